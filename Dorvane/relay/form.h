// The program's one form: the controls that the service modules share (the
// socket arrays, the two queue timers, the menu entries' enabled flags) and
// the visual side (icons, tooltips, the connections view), which is empty
// when the program runs headless. Main builds the Qt one and hands it to
// every module in the environment; tests hand in a fake one.
#pragma once

#include <string>

#include "base/socket_control.h"

namespace dorvane {

// A form timer: fires every Interval ms while enabled.
class FormTimer {
 public:
  virtual ~FormTimer() = default;
  virtual void SetEnabled(bool enabled) = 0;
  virtual bool Enabled() const = 0;
};

// What the desktop shows of the service; every call is a no-op headless.
class ShellView {
 public:
  virtual ~ShellView() = default;
  // Window icon and tray tooltip: started (true) or stopped.
  virtual void ShowServiceState(bool started, const std::string& tooltip) { (void)started, (void)tooltip; }
  // The menu entries "Démarrer" / "Arrêter" enabled or not.
  virtual void SetStartStopEnabled(bool start_enabled, bool stop_enabled) {
    (void)start_enabled, (void)stop_enabled;
  }
  // Refreshes the connections-view row of slot `slot` of type "IN" or "OUT".
  virtual void RefreshConnection(const std::string& type, int slot) { (void)type, (void)slot; }
  // Window caption, title label and library version label.
  virtual void SetCaptions(const std::string& caption, const std::string& title) {
    (void)caption, (void)title;
  }
  virtual void SetMxfinderVersion(const std::string& text) { (void)text; }
  // Shows or hides the main window.
  virtual void SetMainVisible(bool visible) { (void)visible; }
  // Removes the tray icons (the program is ending).
  virtual void RemoveTrayIcons() {}
  // A short message from the tray icon; nothing where there is no tray.
  virtual void ShowTrayNotice(const std::string& title, const std::string& text) { (void)title, (void)text; }
};

class Form {
 public:
  virtual ~Form() = default;
  virtual SocketArray& Smtp() = 0;         // element 0 listens; i = inbound slot i
  virtual SocketArray& SmtpDistant() = 0;  // i = outbound slot i
  virtual FormTimer& tmrVerifOutBox() = 0;
  virtual FormTimer& tmrVerifDeferred() = 0;
  virtual ShellView& Shell() = 0;

  // Menu entries' enabled flags: they keep Demarrer/Arreter from running
  // twice in a row.
  bool mnustartEnabled = true;
  bool mnustopEnabled = false;
  // The final stop has run: the program is ending.
  bool unloaded = false;
};

}  // namespace dorvane
