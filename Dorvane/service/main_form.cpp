#include "service/main_form.h"

#include "base/runtime_error.h"
#include "log/guard.h"

namespace dorvane {

QtFormTimer::QtFormTimer(int interval_ms, std::string where) : where_(std::move(where)) {
  timer_.setInterval(interval_ms);
  QObject::connect(&timer_, &QTimer::timeout, [this] {
    if (on_tick_) Guard(where_, on_tick_);
  });
}

void QtFormTimer::SetEnabled(bool enabled) {
  if (enabled == timer_.isActive()) return;  // re-enabling must not restart the period
  if (enabled) timer_.start();
  else timer_.stop();
}

QtForm::QtForm(std::unique_ptr<ShellView> shell)
    : shell_(shell ? std::move(shell) : std::make_unique<ShellView>()) {
  smtp_.Load(0);
  smtp_distant_.Load(0);
}

QtForm::~QtForm() = default;

void QtForm::SetTimerActions(std::function<void()> verif_outbox, std::function<void()> verif_deferred) {
  outbox_timer_.SetOnTick(std::move(verif_outbox));
  deferred_timer_.SetOnTick(std::move(verif_deferred));
}

}  // namespace dorvane
