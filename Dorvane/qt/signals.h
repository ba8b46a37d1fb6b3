// SIGTERM, SIGINT and SIGHUP turned into event-loop calls: the handler only
// writes the signal number to a pipe; the loop reads it and acts.
#pragma once

#include <functional>

namespace dorvane {

// Installs the handlers; `on_signal` runs on the event loop with the number.
void InstallSignalHandlers(std::function<void(int)> on_signal);

}  // namespace dorvane
