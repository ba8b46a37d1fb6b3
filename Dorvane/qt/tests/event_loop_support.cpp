#include "event_loop_support.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QRandomGenerator>
#include <QTcpServer>
#include <stdexcept>

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

int FreePort() {
  for (int tries = 0; tries < 100; ++tries) {
    int port = 20000 + static_cast<int>(QRandomGenerator::global()->bounded(12000));
    QTcpServer probe;
    if (probe.listen(QHostAddress::AnyIPv4, static_cast<quint16>(port))) return port;
  }
  throw std::runtime_error("no free port");
}

}  // namespace dorvane::test
