// Time and chance as the relay sees them: the wall clock (log dates, spool
// names, deferral ages), a monotonic clock (session limits and time-outs)
// and random numbers (fresh names). Tests hand in a clock they move.
#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>

namespace dorvane {

class Clock {
 public:
  virtual ~Clock() = default;
  // Seconds since the epoch.
  virtual std::time_t Now() = 0;
  // A time that never goes back, for limits and time-outs.
  virtual std::chrono::steady_clock::time_point Steady() = 0;
  // A random number, for names that must not repeat.
  virtual uint32_t Random() = 0;
};

// The system's clocks and the C++ library's random device.
class SystemClock final : public Clock {
 public:
  std::time_t Now() override;
  std::chrono::steady_clock::time_point Steady() override;
  uint32_t Random() override;
};

}  // namespace dorvane
