// The desktop: the main window `mainf`, the tray icon with its menu
// `mnusystray`, the update icon with `mnusystrayevent`, and the
// connections grid. It shows what the service reports through ShellView
// and hands the menu's choices to the service commands.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QPointer>

#include "relay/form.h"

class QAction;
class QMenu;
class QSystemTrayIcon;
class QTimer;

namespace dorvane {

class ConfigDialog;
class ConnectionsView;
class Dialogs;
class Files;
class Logs;
class MainWindow;
class SlotPools;
struct Settings;

// What the menu entries do; the program wires them to the service commands.
// "Configuration ..." opens the settings dialog, whose "Enregistrer" runs
// `reload`.
struct ShellCommands {
  std::function<void()> start, stop, reload, flush, quit;
  // "Vérifier mises à jour".
  std::function<void()> check_update;
  // Asked on every close of the main window; true cancels it (the window
  // then hides). `from_close_box` is true for the user's own close.
  std::function<bool(bool from_close_box)> query_unload;
  // Runs when a close goes ahead (not from the close box): the program ends.
  std::function<void()> unload;
  // Opens a file or an address with the system's program for it; empty:
  // QDesktopServices.
  std::function<void(const std::string& url)> open_url;
  // Whether a tray exists now; empty: QSystemTrayIcon's own answer.
  std::function<bool()> tray_available;
};

// The parts of the environment that the desktop shows and changes; each
// must outlive the shell.
struct DesktopEnvironment {
  Dialogs& dialogs;    // the update icon's notice
  Settings& settings;  // what the settings dialog shows and writes
  SlotPools& pools;    // what the connections grid shows
  Logs& logs;          // the language entries a window cannot take
  Files& files;        // where the settings dialog writes the file
};

// How often a missing tray is looked for (a panel often starts after us).
constexpr int kTrayPollMs = 1000;

// The tray menu's entries in order: object name and built-in caption ("-"
// for a separator).
struct MenuEntry {
  const char* name;
  const char* caption;
};
const std::vector<MenuEntry>& TrayMenuEntries();

class DesktopShell : public ShellView {
 public:
  DesktopShell(ShellCommands commands, DesktopEnvironment env);
  ~DesktopShell() override;

  void ShowServiceState(bool started, const std::string& tooltip) override;
  void SetStartStopEnabled(bool start_enabled, bool stop_enabled) override;
  void RefreshConnection(const std::string& type, int slot) override;
  void SetCaptions(const std::string& caption, const std::string& title) override;
  void SetMxfinderVersion(const std::string& text) override;
  void SetMainVisible(bool visible) override;
  void RemoveTrayIcons() override;
  // The tray icon's balloon message, while the icon is shown.
  void ShowTrayNotice(const std::string& title, const std::string& text) override;

  // Applies the loaded language to the main window and its menus.
  void ApplyLanguage();
  // A newer version exists (NewVersion): shows the update icon and, when
  // `notice`, the FRMExistUpdate notice.
  void ShowUpdateAvailable(bool notice);

  MainWindow& Window() { return *window_; }
  QMenu& TrayMenu() { return *menu_; }
  QSystemTrayIcon& Tray() { return *tray_; }
  QSystemTrayIcon& UpdateTray() { return *update_tray_; }
  const ConnectionsView& Connections() const { return *connections_; }
  // The menu entry (or mnusystrayevent) of that object name.
  QAction& Entry(const char* name);

 private:
  void BuildMenu();
  void BuildTrays();
  bool TrayAvailable() const;
  // Shows the icons once a tray exists; until then the window is the way in.
  void ShowTraysWhenAvailable();
  void OnEntry(QAction* entry, const std::string& name);
  void Open(const std::string& url);
  // Opens the settings dialog (one at a time; an open one is raised).
  void ShowConfigDialog();

  ShellCommands commands_;
  DesktopEnvironment env_;
  QPointer<ConfigDialog> config_dialog_;
  std::unique_ptr<MainWindow> window_;
  QMenu* menu_ = nullptr;  // child of the window, so language files reach it
  QAction* update_event_ = nullptr;
  std::unique_ptr<ConnectionsView> connections_;
  std::unique_ptr<QSystemTrayIcon> tray_;
  std::unique_ptr<QSystemTrayIcon> update_tray_;
  std::unique_ptr<QTimer> tray_poll_;
  bool tray_shown_ = false;      // the first service state has been shown
  bool tray_visible_ = false;    // the icons are in a tray
  bool update_pending_ = false;  // a newer version waits for its icon
};

}  // namespace dorvane
