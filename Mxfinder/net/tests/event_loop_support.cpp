#include "net/tests/event_loop_support.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

namespace mxfinder::testing {

void EnsureApplication() {
  static int argc = 1;
  static char name[] = "mxfinder_tests";
  static char* argv[] = {name, nullptr};
  if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
}

bool PumpUntil(const std::function<bool()>& done, int timeout_ms) {
  EnsureApplication();
  QDeadlineTimer deadline(timeout_ms);
  QTimer wake;  // bounds each wait, so the deadline is seen
  wake.start(20);
  while (!done() && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  return done();
}

void PumpFor(int ms) {
  PumpUntil([] { return false; }, ms);
}

}  // namespace mxfinder::testing

namespace {

// Fixtures may hold sockets as members, built before SetUp runs: the
// application must exist before the first test.
class ApplicationEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { mxfinder::testing::EnsureApplication(); }
};

::testing::Environment* const kApplication = ::testing::AddGlobalTestEnvironment(new ApplicationEnvironment);

}  // namespace
