// The one thread's event loop, as the relay's modules use it: work posted
// here runs after the handler that posts it has returned, never inside it,
// so no handler runs nested in another; repeating timers tick on it too.
#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace dorvane {

// A repeating timer; it stops when destroyed.
class RepeatingTimer {
 public:
  virtual ~RepeatingTimer() = default;
};

class EventLoop {
 public:
  virtual ~EventLoop() = default;
  // Runs `task` on the loop's thread once the current event is handled.
  // Tasks run in the order they were posted.
  virtual void Post(std::function<void()> task) = 0;
  // Runs `tick` every `interval` until the returned timer is destroyed.
  virtual std::unique_ptr<RepeatingTimer> Every(std::chrono::milliseconds interval,
                                                std::function<void()> tick) = 0;
};

}  // namespace dorvane
