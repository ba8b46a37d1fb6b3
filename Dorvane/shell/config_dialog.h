// FRMConfiguration: the settings dialog. A category tree (Categories) on
// the left, the settings of the chosen category on the right; beside each
// setting a check box that overrides the default, the value editable only
// while it is checked. "Enregistrer" writes Dorvane.ini through the dialog's
// settings instance and reloads it as "Recharger" does, so the running
// service uses exactly what the file now says.
#pragma once

#include <QDialog>
#include <functional>
#include <map>
#include <string>
#include <vector>

class QAbstractButton;
class QCheckBox;
class QLineEdit;
class QStackedWidget;
class QTreeWidget;

namespace dorvane {

class Files;
class Logs;
struct SettingInfo;
struct Settings;

class ConfigDialog : public QDialog {
 public:
  // Shows the defaults and file values of `settings`; `reload` is the
  // "Recharger" command; `logs` takes the language entries the dialog
  // cannot apply. Both must outlive the dialog.
  ConfigDialog(Settings& settings, Logs& logs, Files& files, std::function<void()> reload,
               QWidget* parent = nullptr);

  // Writes a typed password to Dorvane.secret, builds the dialog instance
  // of the settings from the boxes, writes it (WriteConf) and runs
  // `reload`, so the running configuration follows the file. A password
  // that cannot be written is said in a box and nothing else is written.
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
  QWidget* BuildPasswordRow(QWidget* page);
  // False when a typed password could not be written.
  bool WritePassword();
  void ShowValues();
  std::string ValueText(const Row& row) const;
  void SetValueText(const Row& row, const std::string& text);

  Settings& settings_;
  Logs& logs_;
  Files& files_;
  std::function<void()> reload_;
  QTreeWidget* tree_;
  QStackedWidget* pages_;
  std::map<std::string, QWidget*> page_of_;  // node key -> page
  std::vector<Row> rows_;
  QLineEdit* password_ = nullptr;
};

}  // namespace dorvane
