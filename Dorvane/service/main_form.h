// The form on Qt: the two socket arrays, the two queue timers and the shell
// (windows and tray on the desktop, nothing headless).
#pragma once

#include <QTimer>
#include <functional>
#include <memory>
#include <string>

#include "log/guard.h"
#include "relay/form.h"
#include "service/qt_socket.h"

namespace dorvane {

// A form timer over QTimer; each tick runs `on_tick` under Guard(`where`).
class QtFormTimer : public FormTimer {
 public:
  QtFormTimer(int interval_ms, std::string where);
  void SetEnabled(bool enabled) override;
  bool Enabled() const override { return timer_.isActive(); }
  void SetOnTick(std::function<void()> on_tick) { on_tick_ = std::move(on_tick); }

 private:
  QTimer timer_;
  std::string where_;
  std::function<void()> on_tick_;
};

class QtForm : public Form {
 public:
  // Element 0 of both arrays exists from the start; `shell` (may be null:
  // the no-op view) is owned.
  explicit QtForm(std::unique_ptr<ShellView> shell);
  ~QtForm() override;

  SocketArray& Smtp() override { return smtp_; }
  SocketArray& SmtpDistant() override { return smtp_distant_; }
  FormTimer& tmrVerifOutBox() override { return outbox_timer_; }
  FormTimer& tmrVerifDeferred() override { return deferred_timer_; }
  ShellView& Shell() override { return *shell_; }

  // Wires the timers to the queue scans of the delivery side.
  void SetTimerActions(std::function<void()> verif_outbox, std::function<void()> verif_deferred);

 private:
  QtSocketArray smtp_{"Smtp"};
  QtSocketArray smtp_distant_{"SmtpDistant"};
  QtFormTimer outbox_timer_{10000, "FRM:MAIN[tmrVerifOutBox_Timer]"};
  QtFormTimer deferred_timer_{10000, "FRM:MAIN[tmrVerifDeferred_Timer]"};
  std::unique_ptr<ShellView> shell_;
};

}  // namespace dorvane
