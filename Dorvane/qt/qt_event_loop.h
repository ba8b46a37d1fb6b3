// The event loop of the running program: Qt's, on the main thread.
#pragma once

#include "base/event_loop.h"

namespace dorvane {

class QtEventLoop final : public EventLoop {
 public:
  // Tasks and ticks must guard themselves: nothing may leave a Qt slot.
  // Post may be called from any thread (a queued call to the application
  // object); the task runs on the main thread.
  void Post(std::function<void()> task) override;
  std::unique_ptr<RepeatingTimer> Every(std::chrono::milliseconds interval,
                                        std::function<void()> tick) override;
};

}  // namespace dorvane
