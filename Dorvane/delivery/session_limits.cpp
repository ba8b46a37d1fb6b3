#include "delivery/session_limits.h"

#include <array>
#include <chrono>

#include "base/runtime_error.h"
#include "base/socket_control.h"
#include "delivery/delivery_failure.h"
#include "delivery/session_states.h"
#include "log/guard.h"
#include "relay/connexion.h"

namespace dorvane {
namespace {

struct Limit {
  int64_t deadline = 0;
  bool set = false;
};

std::array<Limit, kLastSlot + 1>& Limits() {
  static std::array<Limit, kLastSlot + 1> limits;
  return limits;
}

std::function<int64_t()>& Clock() {
  static std::function<int64_t()> clock;
  return clock;
}

void Start(int i, int64_t seconds) {
  if (i < 0 || i > kLastSlot) return;
  Limits()[i] = Limit{SessionClockNow() + seconds, true};
}

}  // namespace

int64_t SessionClockNow() {
  if (Clock()) return Clock()();
  auto since = std::chrono::steady_clock::now().time_since_epoch();
  return std::chrono::duration_cast<std::chrono::seconds>(since).count();
}

void SetSessionClock(std::function<int64_t()> clock) { Clock() = std::move(clock); }

void StartConnectLimit(int i) { Start(i, kConnectLimitSeconds); }
void StartReplyLimit(int i) { Start(i, kReplyLimitSeconds); }

bool SessionLimitPassed(int i, int64_t now) {
  if (i < 0 || i > kLastSlot) return false;
  const Limit& limit = Limits()[i];
  return limit.set && now > limit.deadline;
}

void CheckSessionLimits() {
  Guard("FRM:MAIN[tmrSessionLimit_Timer]", [] {
    for (int i = kFirstSlot; i <= kLastSlot; ++i) {
      // A failure handler may yield; re-read the clock and state per slot.
      if (!InSession(CnxOut(i).Status())) continue;
      if (!SessionLimitPassed(i, SessionClockNow())) continue;
      Limits()[i].set = false;
      SmtpDistant_Error(i, kWsaEtimedout, "Connection timed out.");
    }
  });
}

}  // namespace dorvane
