// The one thread's event loop, as the relay's modules use it: work posted
// here runs after the handler that posts it has returned, never inside it,
// so no handler runs nested in another.
#pragma once

#include <functional>

namespace dorvane {

class EventLoop {
 public:
  virtual ~EventLoop() = default;
  // Runs `task` on the loop's thread once the current event is handled.
  // Tasks run in the order they were posted.
  virtual void Post(std::function<void()> task) = 0;
};

}  // namespace dorvane
