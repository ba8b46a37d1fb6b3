#include "shell/tray_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QVBoxLayout>
#include <QWidget>

#include "log/runtime_error.h"

namespace dorvane {
namespace {

class MainWindow : public QWidget {
 public:
  std::function<bool(bool)> query_unload;

 protected:
  void closeEvent(QCloseEvent* event) override {
    bool cancel = Guard("FRM:MAIN[Form_QueryUnload]", [&] {
      return query_unload && query_unload(event->spontaneous());
    });
    if (!cancel) return event->accept();
    event->ignore();
    hide();
  }
};

QIcon StateIcon(bool started) {
  return QApplication::style()->standardIcon(started ? QStyle::SP_MediaPlay : QStyle::SP_MediaStop);
}

// A menu entry whose action runs under the handler's guard.
QAction* AddEntry(QMenu& menu, const char* caption, const char* where, std::function<void()> action) {
  QAction* entry = menu.addAction(QString::fromUtf8(caption));
  QObject::connect(entry, &QAction::triggered, [where, action = std::move(action)] {
    if (action) Guard(where, action);
  });
  return entry;
}

}  // namespace

TrayShellView::TrayShellView(ShellCommands commands) : commands_(std::move(commands)) {
  auto* window = new MainWindow;
  window->query_unload = commands_.query_unload;
  window_.reset(window);
  auto* layout = new QVBoxLayout(window);
  title_ = new QLabel(window);
  mxfinder_ = new QLabel(window);
  auto* close = new QPushButton(QString::fromUtf8("Fermer"), window);
  QObject::connect(close, &QPushButton::clicked, window, &QWidget::hide);
  layout->addWidget(title_);
  layout->addWidget(mxfinder_);
  layout->addWidget(close);

  menu_ = std::make_unique<QMenu>();
  AddEntry(*menu_, "Ouvrir", "FRM:MAIN[mnuopen_Click]", [this] { SetMainVisible(true); });
  menu_->addSeparator();
  start_ = AddEntry(*menu_, "Démarrer", "FRM:MAIN[mnustart_Click]", commands_.start);
  stop_ = AddEntry(*menu_, "Arrêter", "FRM:MAIN[mnustop_Click]", commands_.stop);
  AddEntry(*menu_, "Recharger", "FRM:MAIN[mnureload_Click]", commands_.reload);
  AddEntry(*menu_, "Forcer (deferred)", "FRM:MAIN[mnuflush_Click]", commands_.flush);
  menu_->addSeparator();
  QAction* quit = AddEntry(*menu_, "Quitter", "FRM:MAIN[mnuquit_Click]", commands_.quit);
  menu_->setDefaultAction(quit);

  tray_ = std::make_unique<QSystemTrayIcon>(StateIcon(false));
  tray_->setContextMenu(menu_.get());
  QObject::connect(tray_.get(), &QSystemTrayIcon::activated, [this](QSystemTrayIcon::ActivationReason r) {
    if (r == QSystemTrayIcon::DoubleClick) SetMainVisible(true);
  });
}

TrayShellView::~TrayShellView() = default;

void TrayShellView::ShowServiceState(bool started, const std::string& tooltip) {
  window_->setWindowIcon(StateIcon(started));
  tray_->setIcon(StateIcon(started));
  tray_->setToolTip(QString::fromStdString(tooltip));
  // Without a tray the window is the only way in.
  if (QSystemTrayIcon::isSystemTrayAvailable()) tray_->show();
  else window_->show();
}

void TrayShellView::SetStartStopEnabled(bool start_enabled, bool stop_enabled) {
  start_->setEnabled(start_enabled);
  stop_->setEnabled(stop_enabled);
}

void TrayShellView::SetCaptions(const std::string& caption, const std::string& title) {
  window_->setWindowTitle(QString::fromStdString(caption));
  title_->setText(QString::fromStdString(title));
}

void TrayShellView::SetMxfinderVersion(const std::string& text) {
  mxfinder_->setText(QString::fromStdString(text));
}

void TrayShellView::SetMainVisible(bool visible) {
  window_->setVisible(visible);
  if (visible) window_->raise();
}

void TrayShellView::RemoveTrayIcons() { tray_->hide(); }

}  // namespace dorvane
