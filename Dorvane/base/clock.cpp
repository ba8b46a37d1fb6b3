#include "base/clock.h"

#include <random>

namespace dorvane {

std::time_t SystemClock::Now() { return std::time(nullptr); }

std::chrono::steady_clock::time_point SystemClock::Steady() { return std::chrono::steady_clock::now(); }

uint32_t SystemClock::Random() {
  static std::random_device device;
  return device();
}

}  // namespace dorvane
