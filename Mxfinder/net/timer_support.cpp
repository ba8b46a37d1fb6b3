#include "net/timer_support.h"

#include <QObject>
#include <QTimerEvent>
#include <atomic>
#include <unordered_map>

namespace mxfinder::MTimerSupport {
namespace {

// The hidden object of one thread. Qt chooses its own timer numbers, so the
// object maps them to ours; that lets a timer be restarted under the same
// identifier.
class TimerWindow : public QObject {
 public:
  void Start(int32_t id, int period_ms) {
    Kill(id);
    int qt_id = startTimer(period_ms, Qt::PreciseTimer);
    if (qt_id == 0) return;
    by_qt_[qt_id] = id;
    by_id_[id] = qt_id;
  }

  void Kill(int32_t id) {
    auto it = by_id_.find(id);
    if (it == by_id_.end()) return;
    killTimer(it->second);
    by_qt_.erase(it->second);
    by_id_.erase(it);
  }

 protected:
  void timerEvent(QTimerEvent* event) override {
    auto it = by_qt_.find(event->timerId());
    if (it != by_qt_.end()) TimerProc(it->second);
  }

 private:
  std::unordered_map<int, int32_t> by_qt_;
  std::unordered_map<int32_t, int> by_id_;
};

TimerWindow& Window() {
  thread_local TimerWindow window;
  return window;
}

}  // namespace

std::string& FiredTimers() {
  static std::string fired;
  return fired;
}

void TimerProc(int32_t id) { FiredTimers() += std::to_string(id) + ";"; }

int32_t NewTimerId() {
  static std::atomic<int32_t> next{1};
  return next++;
}

void StartSystemTimer(int32_t id, int period_ms) { Window().Start(id, period_ms); }

void KillSystemTimer(int32_t id) { Window().Kill(id); }

}  // namespace mxfinder::MTimerSupport
