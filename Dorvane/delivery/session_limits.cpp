#include "delivery/session_limits.h"

#include "base/clock.h"

namespace dorvane {

void SessionLimits::Start(int i, int64_t seconds) {
  if (i < 0 || i > kLastSlot) return;
  limits_[static_cast<size_t>(i)] = Limit{clock_.Steady() + std::chrono::seconds(seconds), true};
}

bool SessionLimits::TakePassed(int i) {
  if (i < 0 || i > kLastSlot) return false;
  Limit& limit = limits_[static_cast<size_t>(i)];
  if (!limit.set || clock_.Steady() <= limit.deadline) return false;
  limit.set = false;
  return true;
}

}  // namespace dorvane
