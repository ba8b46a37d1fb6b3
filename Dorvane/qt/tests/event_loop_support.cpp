#include "event_loop_support.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

namespace dorvane::test {

void EnsureApp() {
  static int argc = 1;
  static char name[] = "dorvane_service_tests";
  static char* argv[] = {name, nullptr};
  // Never destroyed: tearing Qt down among other statics at exit crashes.
  if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
}

bool PumpUntil(const std::function<bool()>& done, int timeout_ms) {
  EnsureApp();
  QDeadlineTimer deadline(timeout_ms);
  while (!done() && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  return done();
}

}  // namespace dorvane::test
