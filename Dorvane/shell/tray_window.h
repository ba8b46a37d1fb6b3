// The desktop side kept small: a main window with the captions and the
// resolver version, and a tray icon whose menu drives the service. The
// window's close box only hides it; the tray's "Quitter" ends the program.
#pragma once

#include <functional>
#include <memory>

#include "service/form.h"

class QAction;
class QLabel;
class QMenu;
class QSystemTrayIcon;
class QWidget;

namespace dorvane {

// What the menu entries do; wired by main() to the service commands.
struct ShellCommands {
  std::function<void()> start, stop, reload, flush, quit;
  // Asked on every close of the main window; true cancels it (the window
  // then hides). `from_close_box` is true for the user's own close.
  std::function<bool(bool from_close_box)> query_unload;
};

class TrayShellView : public ShellView {
 public:
  explicit TrayShellView(ShellCommands commands);
  ~TrayShellView() override;

  void ShowServiceState(bool started, const std::string& tooltip) override;
  void SetStartStopEnabled(bool start_enabled, bool stop_enabled) override;
  void SetCaptions(const std::string& caption, const std::string& title) override;
  void SetMxfinderVersion(const std::string& text) override;
  void SetMainVisible(bool visible) override;
  void RemoveTrayIcons() override;

 private:
  ShellCommands commands_;
  std::unique_ptr<QWidget> window_;
  QLabel* title_ = nullptr;
  QLabel* mxfinder_ = nullptr;
  std::unique_ptr<QMenu> menu_;
  QAction* start_ = nullptr;
  QAction* stop_ = nullptr;
  std::unique_ptr<QSystemTrayIcon> tray_;
};

}  // namespace dorvane
