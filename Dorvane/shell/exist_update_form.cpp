#include "shell/exist_update_form.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include "base/program.h"
#include "base/runtime_error.h"
#include "log/guard.h"
#include "update/update_check.h"

namespace dorvane {

ExistUpdateForm::ExistUpdateForm(std::function<void()> on_update)
    : QWidget(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint), on_update_(std::move(on_update)) {
  setObjectName("FRMExistUpdate");
  setWindowTitle(QStringLiteral("Dorvane"));
  auto* layout = new QVBoxLayout(this);
  auto* line1 = new QLabel(QString::fromStdString(" La version " + NewVersion + " est disponible !"), this);
  line1->setObjectName("lblNewVersion");
  auto* line2 = new QLabel(QString::fromStdString(" Version actuelle: " + VersionText()), this);
  line2->setObjectName("lblCurrentVersion");
  // The version came over plain HTTP: never let it be read as markup.
  line1->setTextFormat(Qt::PlainText);
  line2->setTextFormat(Qt::PlainText);
  auto* update = new QPushButton(QString::fromUtf8("Mettre à jour"), this);
  update->setObjectName("btnUpdate");
  layout->addWidget(line1);
  layout->addWidget(line2);
  layout->addWidget(update);
  timeout_ = new QTimer(this);
  timeout_->setObjectName("tmrTimeOut");
  timeout_->setSingleShot(true);
  timeout_->setInterval(kExistUpdateTimeoutMs);
  connect(timeout_, &QTimer::timeout, this, [this] { close(); });
  connect(update, &QPushButton::clicked, this, [this] {
    Guard("FRM:EXISTUPDATE[btnUpdate_Click]", [this] {
      if (on_update_) on_update_();
      close();
    });
  });
}

ExistUpdateForm* ExistUpdateForm::ShowNotice(std::function<void()> on_update) {
  auto* form = new ExistUpdateForm(std::move(on_update));
  form->setAttribute(Qt::WA_DeleteOnClose);
  form->show();
  return form;
}

void ExistUpdateForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  adjustSize();
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect area = screen->geometry();
    move(area.right() + 1 - frameGeometry().width(), area.bottom() + 1 - frameGeometry().height());
  }
  timeout_->start();
}

}  // namespace dorvane
