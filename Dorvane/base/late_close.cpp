#include "base/late_close.h"

#include <unistd.h>

#include <system_error>
#include <utility>

namespace dorvane {
namespace {

// A bound on descriptors held: far below any process limit.
constexpr size_t kMaxWaiting = 256;

}  // namespace

LateClose::~LateClose() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  if (thread_.joinable()) thread_.join();
  for (int fd : waiting_) ::close(fd);
}

void LateClose::Close(int fd) {
  std::unique_lock lock(mutex_);
  if (!started_) {
    started_ = true;
    try {
      thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {  // the system's thread limit: closed here
    }
  }
  if (!thread_.joinable() || stopping_ || waiting_.size() >= kMaxWaiting) {
    lock.unlock();
    ::close(fd);
    return;
  }
  waiting_.push_back(fd);
  lock.unlock();
  wake_.notify_one();
}

void LateClose::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
    if (waiting_.empty()) return;
    std::deque<int> batch = std::exchange(waiting_, {});
    lock.unlock();
    for (int fd : batch) ::close(fd);
    lock.lock();
  }
}

}  // namespace dorvane
