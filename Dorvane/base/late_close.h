// Closes file descriptors on a thread of its own. The last close of a file
// that was removed while open frees its blocks, which on a busy disk takes
// longer than the removal; the thread that removed it need not wait.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <thread>

namespace dorvane {

class LateClose {
 public:
  LateClose() = default;
  // Closes what is still waiting and ends the thread.
  ~LateClose();
  LateClose(const LateClose&) = delete;
  LateClose& operator=(const LateClose&) = delete;

  // Takes `fd` and closes it soon. Closes it at once when no thread can be
  // had or too many wait already, so a descriptor is never held for long.
  void Close(int fd);

 private:
  void Run();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<int> waiting_;
  bool stopping_ = false;
  bool started_ = false;
  std::thread thread_;
};

}  // namespace dorvane
