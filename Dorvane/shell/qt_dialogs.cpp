#include "shell/qt_dialogs.h"

#include <QMessageBox>

namespace dorvane {
namespace {

QMessageBox::Icon BoxIcon(DialogIcon icon) {
  switch (icon) {
    case DialogIcon::Critical: return QMessageBox::Critical;
    case DialogIcon::Question: return QMessageBox::Question;
    case DialogIcon::Exclamation: return QMessageBox::Warning;
    case DialogIcon::Information: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
  }
}

QString Title(const std::string& title) { return QString::fromStdString(title.empty() ? "Dorvane" : title); }

}  // namespace

void QtDialogs::Message(const std::string& text, const std::string& title, DialogIcon icon) {
  QMessageBox box(BoxIcon(icon), Title(title), QString::fromStdString(text), QMessageBox::Ok);
  box.exec();
}

void QtDialogs::Notice(const std::string& text, const std::string& title, DialogIcon icon) {
  auto* box = new QMessageBox(BoxIcon(icon), Title(title), QString::fromStdString(text), QMessageBox::Ok);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setModal(false);
  box->show();
}

bool QtDialogs::Question(const std::string& text, const std::string& title, bool default_yes) {
  auto answer = QMessageBox::question(nullptr, Title(title), QString::fromStdString(text),
                                      QMessageBox::Yes | QMessageBox::No,
                                      default_yes ? QMessageBox::Yes : QMessageBox::No);
  return answer == QMessageBox::Yes;
}

}  // namespace dorvane
