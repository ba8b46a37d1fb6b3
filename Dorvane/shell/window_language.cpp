#include "shell/window_language.h"

#include <QAbstractButton>
#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QTableWidget>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QWidget>

#include "base/runtime_error.h"
#include "config/language.h"
#include "log/guard.h"
#include "log/logs.h"

namespace dorvane {
namespace {

QString Text(const std::string& bytes) { return QString::fromStdString(bytes); }

bool SetCaption(QObject* control, const QString& text) {
  if (auto* label = qobject_cast<QLabel*>(control)) label->setText(text);
  else if (auto* button = qobject_cast<QAbstractButton*>(control)) button->setText(text);
  else if (auto* frame = qobject_cast<QGroupBox*>(control)) frame->setTitle(text);
  else if (auto* menu = qobject_cast<QMenu*>(control)) menu->setTitle(text);
  else if (auto* entry = qobject_cast<QAction*>(control)) entry->setText(text);
  else if (auto* widget = qobject_cast<QWidget*>(control); widget && widget->isWindow()) widget->setWindowTitle(text);
  else return false;
  return true;
}

bool SetTip(QObject* control, const QString& text) {
  if (auto* widget = qobject_cast<QWidget*>(control)) widget->setToolTip(text);
  else if (auto* entry = qobject_cast<QAction*>(control)) entry->setToolTip(text);
  else return false;
  return true;
}

QTreeWidgetItem* FindNode(QWidget& window, const std::string& key) {
  auto* tree = window.findChild<QTreeWidget*>("Categories");
  if (!tree) return nullptr;
  for (QTreeWidgetItemIterator it(tree); *it; ++it) {
    if ((*it)->data(0, kNodeKeyRole).toString() == Text(key)) return *it;
  }
  return nullptr;
}

// A grid's column header, named grid + "_" + column number ("ActiveCnx_4").
QTableWidgetItem* FindColumnHeader(QWidget& window, const std::string& name) {
  size_t cut = name.rfind('_');
  if (cut == std::string::npos) return nullptr;
  auto* table = window.findChild<QTableWidget*>(Text(name.substr(0, cut)));
  bool number = false;
  int column = Text(name.substr(cut + 1)).toInt(&number);
  if (!table || !number || column < 0 || column >= table->columnCount()) return nullptr;
  return table->horizontalHeaderItem(column);
}

QObject* FindControl(QWidget& window, const std::string& name) {
  QString wanted = Text(name);
  if (window.objectName() == wanted) return &window;
  return window.findChild<QObject*>(wanted);
}

void SkipEntry(Logs& logs, QWidget& window, const ControlText& text, const char* why) {
  logs.DbgAdd("<FONT color='#808080'>Langue: " + HtmlEscape(text.prefix + " " + text.name) + " ignor\xC3\xA9 (" +
                  why + " dans " + window.objectName().toStdString() + ")</FONT><BR>",
              kDbgPlain);
}

// Applies one entry to `window`; why it was skipped, or nullptr.
const char* Apply(QWidget& window, const ControlText& text) {
  QString value = Text(text.value);
  if (text.prefix == "NOD") {
    QTreeWidgetItem* node = FindNode(window, text.name);
    if (!node) return "noeud introuvable";
    node->setText(0, value);
    return nullptr;
  }
  if (QTableWidgetItem* header = FindColumnHeader(window, text.name)) {
    if (text.prefix == "CPT") header->setText(value);
    else header->setToolTip(value);
    return nullptr;
  }
  QObject* control = FindControl(window, text.name);
  if (!control) return "contr\xC3\xB4le introuvable";
  bool done = text.prefix == "CPT" ? SetCaption(control, value) : SetTip(control, value);
  return done ? nullptr : "propri\xC3\xA9t\xC3\xA9 absente";
}

}  // namespace

void LOADValues(QWidget& window, LanguageTexts& language, Logs& logs) {
  Guard("MOD:LANGUAGE[LOADValues]", [&window, &language, &logs] {
    WindowLanguage texts = WindowTexts(window.objectName().toStdString(), language.entries);
    language.constants = texts.constants;
    for (const ControlText& text : texts.controls) {
      if (const char* why = Apply(window, text)) SkipEntry(logs, window, text, why);
    }
  });
}

}  // namespace dorvane
