// FRMConfiguration: the settings dialog. A category tree (Categories) on
// the left, the settings of the chosen category on the right; beside each
// setting a check box that overrides the default, the value editable only
// while it is checked. "Enregistrer" writes Dorvane.ini through DialogConfig
// and reloads it as "Recharger" does, so the running service uses exactly
// what the file now says.
#pragma once

#include <QDialog>
#include <map>
#include <string>

class QAbstractButton;
class QCheckBox;
class QStackedWidget;
class QTreeWidget;

namespace dorvane {

struct SettingInfo;

class ConfigDialog : public QDialog {
 public:
  explicit ConfigDialog(QWidget* parent = nullptr);

  // Builds DialogConfig from the boxes, writes it (WriteConf) and reloads
  // the file into the running configuration (as "Recharger").
  void Write();

 private:
  struct Row {
    const SettingInfo* setting;
    QCheckBox* check;
    QWidget* value;  // the control that holds the value
  };

  void BuildTree();
  QWidget* BuildRow(const SettingInfo& setting, QWidget* page);
  QWidget* ValueControl(const SettingInfo& setting, QWidget* parent);
  void ShowValues();
  std::string ValueText(const Row& row) const;
  void SetValueText(const Row& row, const std::string& text);

  QTreeWidget* tree_;
  QStackedWidget* pages_;
  std::map<std::string, QWidget*> page_of_;  // node key -> page
  std::vector<Row> rows_;
};

// Opens the dialog (one at a time; an open one is raised).
void ShowConfigDialog();

}  // namespace dorvane
