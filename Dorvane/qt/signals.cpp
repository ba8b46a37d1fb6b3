#include "qt/signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>

#include "base/runtime_error.h"
#include "log/guard.h"

namespace dorvane {
namespace {

int g_pipe[2] = {-1, -1};

void OnSignal(int number) {
  int saved = errno;
  unsigned char byte = static_cast<unsigned char>(number);
  [[maybe_unused]] ssize_t n = ::write(g_pipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

void InstallSignalHandlers(std::function<void(int)> on_signal) {
  if (::pipe2(g_pipe, O_NONBLOCK | O_CLOEXEC) != 0) Raise(kErrInvalidCall, "signals", "pipe failed");
  auto* notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read);  // lives for the process
  QObject::connect(notifier, &QSocketNotifier::activated, [on_signal = std::move(on_signal)] {
    unsigned char byte = 0;
    while (::read(g_pipe[0], &byte, 1) == 1) Guard("FRM:MAIN[Signal]", [&] { on_signal(byte); });
  });
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaction(s, &sa, nullptr);
}

}  // namespace dorvane
