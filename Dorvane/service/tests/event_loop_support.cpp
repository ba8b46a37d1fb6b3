#include "event_loop_support.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <memory>

namespace dorvane::test {

void EnsureApp() {
  static int argc = 1;
  static char name[] = "dorvane_service_tests";
  static char* argv[] = {name, nullptr};
  static std::unique_ptr<QCoreApplication> app;
  if (!QCoreApplication::instance()) app = std::make_unique<QCoreApplication>(argc, argv);
}

bool PumpUntil(const std::function<bool()>& done, int timeout_ms) {
  EnsureApp();
  QDeadlineTimer deadline(timeout_ms);
  while (!done() && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  return done();
}

}  // namespace dorvane::test
