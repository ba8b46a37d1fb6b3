#include "qt/qt_event_loop.h"

#include <QCoreApplication>
#include <QTimer>

namespace dorvane {
namespace {

class QtRepeatingTimer : public RepeatingTimer {
 public:
  QtRepeatingTimer(std::chrono::milliseconds interval, std::function<void()> tick) {
    QObject::connect(&timer_, &QTimer::timeout, std::move(tick));
    timer_.start(interval);
  }

 private:
  QTimer timer_;
};

}  // namespace

void QtEventLoop::Post(std::function<void()> task) {
  QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(task), Qt::QueuedConnection);
}

std::unique_ptr<RepeatingTimer> QtEventLoop::Every(std::chrono::milliseconds interval,
                                                   std::function<void()> tick) {
  return std::make_unique<QtRepeatingTimer>(interval, std::move(tick));
}

}  // namespace dorvane
