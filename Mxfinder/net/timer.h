// CTimer: a time-out flag for a caller that polls while it runs the event
// loop. StartTimer starts a repeating timer; Timeout tells whether it has
// fired since it was started (or since the last Reset).
#pragma once

#include <cstdint>
#include <vector>

namespace mxfinder {

class CTimer {
 public:
  CTimer() = default;
  // Stops every timer this object started.
  ~CTimer();
  CTimer(const CTimer&) = delete;
  CTimer& operator=(const CTimer&) = delete;

  // The period in seconds of the timers started from now on; 0 at first.
  int16_t TimeoutValue() const { return timeout_value_; }
  void SetTimeoutValue(int16_t seconds) { timeout_value_ = seconds; }

  // Starts a repeating timer of TimeoutValue seconds. The proposed `id` is
  // not kept: the identifier chosen for the timer is written back into it,
  // and it is the one to pass to Timeout and StopTimer.
  void StartTimer(int32_t& id);

  // Whether timer `id` has fired and not been stopped or reset since.
  bool Timeout(int32_t id) const;

  // Cancels timer `id` and forgets that it fired.
  void StopTimer(int32_t id);

  // Starts every timer of this object again with the current TimeoutValue,
  // then forgets every firing of every timer in the process.
  void Reset();

 private:
  int PeriodMilliseconds() const;

  int16_t timeout_value_ = 0;
  std::vector<int32_t> started_;
};

}  // namespace mxfinder
