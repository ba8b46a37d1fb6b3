#include "shell/desktop_shell.h"

#include <QAction>
#include <QDesktopServices>
#include <QLabel>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QUrl>

#include "base/dialogs.h"
#include "base/program.h"
#include "base/runtime_error.h"
#include "config/configuration.h"
#include "log/guard.h"
#include "shell/config_dialog.h"
#include "shell/connections_view.h"
#include "shell/exist_update_form.h"
#include "shell/main_window.h"
#include "shell/tray_icons.h"
#include "shell/window_language.h"
#include "update/update_check.h"

namespace dorvane {

const std::vector<MenuEntry>& TrayMenuEntries() {
  static const std::vector<MenuEntry> entries = {
      {"mnuopen", "Ouvrir"},
      {"mnuwintop", "Fen\xC3\xAAtre toujours devant"},
      {"mnusep0", "-"},
      {"mnuconfig", "Configuration ..."},
      {"mnusep1", "-"},
      {"mnustart", "D\xC3\xA9marrer"},
      {"mnustop", "Arr\xC3\xAAter"},
      {"mnureload", "Recharger"},
      {"mnuflush", "Forcer (deferred)"},
      {"mnuseelog", ".: Voir fichier log ::"},
      {"mnuseeerrorlog", ".: Voir fichier error ::"},
      {"mnusep4", "-"},
      {"mnuupdate", "V\xC3\xA9rifier mises \xC3\xA0 jour"},
      {"mnusep2", "-"},
      {"mnuhelp", "Aide"},
      {"mnusep3", "-"},
      {"mnuquit", "Quitter"},
  };
  return entries;
}

DesktopShell::DesktopShell(ShellCommands commands, DesktopEnvironment env)
    : commands_(std::move(commands)), env_(env), window_(std::make_unique<MainWindow>()) {
  window_->query_unload = [this](bool from_close_box) {
    bool cancel = commands_.query_unload ? commands_.query_unload(from_close_box) : true;
    if (!cancel && commands_.unload) commands_.unload();
    return cancel;
  };
  window_->open_url = [this](const std::string& url) { Open(url); };
  window_->popup_menu = [this](const QPoint& at) { menu_->exec(at); };
  window_->can_hide = [this] { return tray_visible_ && TrayAvailable(); };
  window_->setWindowIcon(StateIcon(false));
  connections_ = std::make_unique<ConnectionsView>(window_->ActiveCnx());
  BuildMenu();
  BuildTrays();
  tray_poll_ = std::make_unique<QTimer>();
  tray_poll_->setInterval(kTrayPollMs);
  QObject::connect(tray_poll_.get(), &QTimer::timeout, [this] {
    Guard("FRM:MAIN[tmrTray_Timer]", [this] { ShowTraysWhenAvailable(); });
  });
}

DesktopShell::~DesktopShell() = default;

void DesktopShell::BuildMenu() {
  menu_ = new QMenu(window_.get());
  menu_->setObjectName("mnusystray");
  menu_->setTitle(QStringLiteral("systray"));
  for (const MenuEntry& e : TrayMenuEntries()) {
    std::string name = e.name;
    QAction* entry = name.starts_with("mnusep") ? menu_->addSeparator()
                                                : menu_->addAction(QString::fromUtf8(e.caption));
    entry->setObjectName(QString::fromStdString(name));
    if (!entry->isSeparator())
      QObject::connect(entry, &QAction::triggered, [this, entry, name] { OnEntry(entry, name); });
  }
  Entry("mnuwintop").setCheckable(true);
  Entry("mnustart").setIcon(StateIcon(true));
  Entry("mnustop").setIcon(StateIcon(false));
  Entry("mnuupdate").setIcon(InfoIcon());
  menu_->setDefaultAction(&Entry("mnuquit"));  // shown bold
  Entry("mnustop").setEnabled(false);

  update_event_ = new QAction(QStringLiteral("systrayevent"), window_.get());
  update_event_->setObjectName("mnusystrayevent");
  QObject::connect(update_event_, &QAction::triggered, [this] {
    Guard("FRM:MAIN[mnusystrayevent_Click]", [this] {
      env_.dialogs.Notice(std::string("Une version plus r\xC3\xA9" "cente de Dorvane est disponible sur ") + kWebSite,
                          "", DialogIcon::Information);
    });
  });
}

void DesktopShell::BuildTrays() {
  tray_ = std::make_unique<QSystemTrayIcon>(StateIcon(false));
  tray_->setObjectName("img_tray");
  tray_->setContextMenu(menu_);  // the platform's context request: one pop-up per click
  QObject::connect(tray_.get(), &QSystemTrayIcon::activated, [this](QSystemTrayIcon::ActivationReason r) {
    if (r == QSystemTrayIcon::DoubleClick) Guard("FRM:MAIN[img_tray_MouseMove]", [this] { SetMainVisible(true); });
  });
  update_tray_ = std::make_unique<QSystemTrayIcon>(InfoIcon());
  update_tray_->setObjectName("img_tray_event");
  QObject::connect(update_tray_.get(), &QSystemTrayIcon::activated, [this](QSystemTrayIcon::ActivationReason r) {
    Guard("FRM:MAIN[img_tray_event_MouseMove]", [this, r] {
      if (r == QSystemTrayIcon::DoubleClick) SetMainVisible(true);
      else if (r == QSystemTrayIcon::Trigger || r == QSystemTrayIcon::Context) update_event_->trigger();
    });
  });
}

QAction& DesktopShell::Entry(const char* name) {
  auto* entry = window_->findChild<QAction*>(QString::fromUtf8(name));
  if (!entry) Raise(kErrInvalidCall, "mainf", std::string("no menu entry ") + name);
  return *entry;
}

void DesktopShell::OnEntry(QAction* entry, const std::string& name) {
  auto run = [](const std::function<void()>& command) {
    if (command) command();
  };
  Guard("FRM:MAIN[" + name + "_Click]", [&] {
    if (name == "mnuopen") SetMainVisible(true);
    else if (name == "mnuwintop") window_->SetTopmost(entry->isChecked());
    else if (name == "mnuconfig") ShowConfigDialog();
    else if (name == "mnustart") run(commands_.start);
    else if (name == "mnustop") run(commands_.stop);
    else if (name == "mnureload") run(commands_.reload);
    else if (name == "mnuflush") run(commands_.flush);
    else if (name == "mnuseelog") Open(ProgramPath("maillog.txt"));
    else if (name == "mnuseeerrorlog") Open(ProgramPath("error.txt"));
    else if (name == "mnuupdate") run(commands_.check_update);
    else if (name == "mnuhelp") Open(kHelpPage);
    else if (name == "mnuquit") run(commands_.quit);
  });
}

void DesktopShell::ShowConfigDialog() {
  if (!config_dialog_) {
    config_dialog_ = new ConfigDialog(env_.settings, env_.logs, env_.files, commands_.reload);
    config_dialog_->setAttribute(Qt::WA_DeleteOnClose);
  }
  config_dialog_->show();
  config_dialog_->raise();
  config_dialog_->activateWindow();
}

void DesktopShell::Open(const std::string& url) {
  if (commands_.open_url) return commands_.open_url(url);
  QUrl target = url.find("://") != std::string::npos || url.starts_with("mailto:")
                    ? QUrl(QString::fromStdString(url))
                    : QUrl::fromLocalFile(QString::fromStdString(url));
  QDesktopServices::openUrl(target);
}

void DesktopShell::ShowServiceState(bool started, const std::string& tooltip) {
  window_->setWindowIcon(StateIcon(started));
  tray_->setIcon(StateIcon(started));
  tray_->setToolTip(QString::fromStdString(tooltip));
  if (tray_shown_) return;
  tray_shown_ = true;
  // Without a tray the window is the only way in: it is shown at start.
  ShowTraysWhenAvailable();
  if (!tray_visible_) SetMainVisible(true);
}

bool DesktopShell::TrayAvailable() const {
  return commands_.tray_available ? commands_.tray_available() : QSystemTrayIcon::isSystemTrayAvailable();
}

void DesktopShell::ShowTraysWhenAvailable() {
  if (tray_visible_) return tray_poll_->stop();
  if (!TrayAvailable()) return tray_poll_->start();
  tray_poll_->stop();
  tray_visible_ = true;
  tray_->show();
  if (update_pending_) update_tray_->show();
}

void DesktopShell::SetStartStopEnabled(bool start_enabled, bool stop_enabled) {
  Entry("mnustart").setEnabled(start_enabled);
  Entry("mnustop").setEnabled(stop_enabled);
}

void DesktopShell::RefreshConnection(const std::string& type, int slot) {
  connections_->Refresh(type, slot, ReadSlot(env_.pools, type, slot));
}

void DesktopShell::SetCaptions(const std::string& caption, const std::string& title) {
  window_->setWindowTitle(QString::fromStdString(caption));
  window_->Titre().setText(QString::fromStdString(title));
}

void DesktopShell::SetMxfinderVersion(const std::string& text) {
  window_->lblMxfinderVer().setText(QString::fromStdString(text));
}

void DesktopShell::SetMainVisible(bool visible) { window_->ShowMain(visible); }

void DesktopShell::RemoveTrayIcons() {
  tray_poll_->stop();
  tray_visible_ = false;
  tray_->hide();
  update_tray_->hide();
}

void DesktopShell::ShowTrayNotice(const std::string& title, const std::string& text) {
  if (!tray_->isVisible()) return;
  tray_->showMessage(QString::fromStdString(title), QString::fromStdString(text), QSystemTrayIcon::Warning);
}

void DesktopShell::ApplyLanguage() { LOADValues(*window_, env_.settings.language, env_.logs); }

void DesktopShell::ShowUpdateAvailable(bool notice) {
  update_tray_->setToolTip(QString::fromStdString("Dorvane " + NewVersion));
  update_pending_ = true;
  if (tray_visible_) update_tray_->show();
  if (notice) ExistUpdateForm::ShowNotice([this] { Open(kWebSite); });
}

}  // namespace dorvane
