#include "shell/config_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "base/program.h"
#include "base/runtime_error.h"
#include "config/configuration.h"
#include "config/language.h"
#include "config/smtp_secret.h"
#include "log/guard.h"
#include "shell/config_values.h"
#include "shell/window_language.h"

namespace dorvane {
namespace {

QString Text(const std::string& bytes) { return QString::fromStdString(bytes); }
QString Name(const char* prefix, const std::string& key, const char* suffix = "") {
  return Text(prefix + key + suffix);
}

}  // namespace

ConfigDialog::ConfigDialog(Settings& settings, Logs& logs, Files& files, std::function<void()> reload,
                           QWidget* parent)
    : QDialog(parent), settings_(settings), logs_(logs), files_(files), reload_(std::move(reload)) {
  setObjectName("FRMConfiguration");
  setWindowTitle(QStringLiteral("Configuration de Dorvane"));
  auto* layout = new QVBoxLayout(this);
  auto* body = new QHBoxLayout;
  tree_ = new QTreeWidget(this);
  tree_->setObjectName("Categories");
  tree_->setHeaderHidden(true);
  tree_->setMaximumWidth(220);
  pages_ = new QStackedWidget(this);
  body->addWidget(tree_);
  body->addWidget(pages_, 1);
  layout->addLayout(body, 1);
  BuildTree();
  for (const SettingInfo& setting : SettingsTable()) {
    QWidget* page = page_of_.at(setting.node);
    page->layout()->addWidget(BuildRow(setting, page));
  }
  page_of_.at("cat_network_5")->layout()->addWidget(BuildPasswordRow(page_of_.at("cat_network_5")));
  for (auto& [key, page] : page_of_) static_cast<QVBoxLayout*>(page->layout())->addStretch(1);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  auto* write = new QPushButton(QStringLiteral("Enregistrer"), this);
  write->setObjectName("btnWrite");
  auto* cancel = new QPushButton(QStringLiteral("Annuler"), this);
  cancel->setObjectName("btnCancel");
  buttons->addWidget(write);
  buttons->addWidget(cancel);
  layout->addLayout(buttons);
  connect(write, &QPushButton::clicked, this, [this] { Write(); });
  connect(cancel, &QPushButton::clicked, this, [this] { reject(); });

  LOADValues(*this, settings_.language, logs_);  // captions first: the check boxes are built from the constants
  ShowValues();
  tree_->setCurrentItem(tree_->topLevelItem(0));
}

void ConfigDialog::BuildTree() {
  for (const CategoryInfo& category : Categories()) {
    auto* node = new QTreeWidgetItem(tree_, QStringList{QString::fromUtf8(category.caption)});
    node->setData(0, kNodeKeyRole, QString::fromUtf8(category.key));
    auto* page = new QWidget(pages_);
    new QVBoxLayout(page);
    pages_->addWidget(page);
    page_of_[category.key] = page;
  }
  connect(tree_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* node) {
    if (!node) return;
    auto it = page_of_.find(node->data(0, kNodeKeyRole).toString().toStdString());
    if (it != page_of_.end()) pages_->setCurrentWidget(it->second);
  });
}

QWidget* ConfigDialog::BuildRow(const SettingInfo& setting, QWidget* page) {
  auto* frame = new QGroupBox(QString::fromUtf8(setting.caption), page);
  frame->setObjectName(Name("fra", setting.key));
  auto* layout = new QVBoxLayout(frame);
  auto* check = new QCheckBox(frame);
  check->setObjectName(Name("chk", setting.key));
  QWidget* value = ValueControl(setting, frame);
  layout->addWidget(check);
  layout->addWidget(value);
  connect(check, &QCheckBox::toggled, value, &QWidget::setEnabled);
  rows_.push_back({&setting, check, value});
  return frame;
}

// The smarthost's password is no setting: it goes to its own private file,
// and only when something is typed (empty keeps the file as it is).
QWidget* ConfigDialog::BuildPasswordRow(QWidget* page) {
  auto* frame = new QGroupBox(QStringLiteral("Mot de passe du serveur SMTP (Dorvane.secret)"), page);
  frame->setObjectName("fraSmtpPassword");
  auto* layout = new QVBoxLayout(frame);
  password_ = new QLineEdit(frame);
  password_->setObjectName("txtSmtpPassword");
  password_->setEchoMode(QLineEdit::Password);
  password_->setPlaceholderText(QStringLiteral("inchang\u00E9"));
  layout->addWidget(password_);
  return frame;
}

QWidget* ConfigDialog::ValueControl(const SettingInfo& setting, QWidget* parent) {
  std::string key = setting.key;
  switch (setting.kind) {
    case SettingKind::OnOff: {
      auto* options = new QWidget(parent);
      options->setObjectName(Name("opt", key));
      auto* layout = new QHBoxLayout(options);
      auto* yes = new QRadioButton(options);
      yes->setObjectName(Name("opt", key, "Yes"));
      auto* no = new QRadioButton(options);
      no->setObjectName(Name("opt", key, "No"));
      layout->addWidget(yes);
      layout->addWidget(no);
      layout->addStretch(1);
      return options;
    }
    case SettingKind::Number: {
      auto* number = new QSpinBox(parent);
      number->setObjectName(Name("txt", key));
      number->setRange(setting.offered.min, setting.offered.max);
      return number;
    }
    case SettingKind::Choice: {
      auto* choices = new QComboBox(parent);
      choices->setObjectName(Name("cbo", key));
      for (const char* choice : setting.choices) choices->addItem(QString::fromUtf8(choice));
      return choices;
    }
    case SettingKind::Text: break;
  }
  // A comma or a double quote would cut the value when the file is read.
  auto* validator = new QRegularExpressionValidator(QRegularExpression("[^,\"]*"), parent);
  if (key == "Language") {
    auto* languages = new QComboBox(parent);
    languages->setObjectName(Name("cbo", key));
    languages->setEditable(true);
    languages->setValidator(validator);
    for (const std::string& name : AvailableLanguages())
      languages->addItem(QIcon(Text(ProgramPath("language/" + name + ".ico"))), Text(name));
    return languages;
  }
  auto* line = new QLineEdit(parent);
  line->setObjectName(Name("txt", key));
  line->setValidator(validator);
  return line;
}

void ConfigDialog::ShowValues() {
  auto defaults = AllTexts(settings_.defaults);
  auto defined = DefinedTexts(settings_.file);
  for (const Row& row : rows_) {
    std::string key = row.setting->key;
    row.check->setText(Text(OverrideCaption(settings_.language.constants, DefaultShown(settings_.language.constants, *row.setting, defaults[key]))));
    if (row.setting->kind == SettingKind::OnOff) {
      row.value->findChild<QRadioButton*>(Name("opt", key, "Yes"))->setText(Text(settings_.language.constants[3]));
      row.value->findChild<QRadioButton*>(Name("opt", key, "No"))->setText(Text(settings_.language.constants[4]));
    }
    auto file = defined.find(key);
    row.check->setChecked(file != defined.end());
    SetValueText(row, file != defined.end() ? file->second : defaults[key]);
    row.value->setEnabled(row.check->isChecked());
  }
}

std::string ConfigDialog::ValueText(const Row& row) const {
  std::string key = row.setting->key;
  if (row.setting->kind == SettingKind::OnOff)
    return row.value->findChild<QRadioButton*>(Name("opt", key, "No"))->isChecked() ? "Off" : "On";
  if (auto* number = qobject_cast<QSpinBox*>(row.value)) return std::to_string(number->value());
  if (auto* combo = qobject_cast<QComboBox*>(row.value)) return combo->currentText().trimmed().toStdString();
  return static_cast<QLineEdit*>(row.value)->text().trimmed().toStdString();
}

void ConfigDialog::SetValueText(const Row& row, const std::string& text) {
  std::string key = row.setting->key;
  if (row.setting->kind == SettingKind::OnOff) {
    bool off = text == "Off";
    row.value->findChild<QRadioButton*>(Name("opt", key, off ? "No" : "Yes"))->setChecked(true);
  } else if (auto* number = qobject_cast<QSpinBox*>(row.value)) {
    number->setValue(std::stoi(text));
  } else if (auto* combo = qobject_cast<QComboBox*>(row.value)) {
    combo->setCurrentText(Text(text));
  } else {
    static_cast<QLineEdit*>(row.value)->setText(Text(text));
  }
}

void ConfigDialog::Write() {
  Guard("FRM:CONFIGURATION[btnWrite_Click]", [this] {
    if (!WritePassword()) return;
    std::map<std::string, std::string> defined;
    for (const Row& row : rows_) {
      if (row.check->isChecked()) defined[row.setting->key] = ValueText(row);
    }
    settings_.dialog = ConfigFromTexts(defined);
    settings_.dialog.WriteConf(files_, logs_);
    if (reload_) reload_();  // the running service follows the file at once
    accept();
  });
}

bool ConfigDialog::WritePassword() {
  const std::string password = password_->text().toStdString();
  if (password.empty()) return true;
  // The first line is the password: a line end would cut it.
  if (password.find_first_of("\r\n") == std::string::npos && WriteSmtpSecret(files_, password) == 0) {
    password_->clear();
    return true;
  }
  QMessageBox::warning(this, windowTitle(), QStringLiteral("Dorvane.secret n'a pas pu \u00EAtre \u00E9crit."));
  return false;
}

}  // namespace dorvane
