// Yielding to pending events: the outbound handlers let other sockets'
// events (other sessions, the inbound listener) run after each command they
// send, so several sessions progress at once on the one thread.
#pragma once

#include <functional>

namespace dorvane {

// Processes the events that are pending (QCoreApplication::processEvents).
// Handlers of other elements may run inside this call; a yield made by one
// of them returns at once, so yields never nest.
void YieldToEvents();

// Replaces what a yield does (tests play other sessions' events here);
// nullptr restores the event loop's.
void SetYieldAction(std::function<void()> action);

}  // namespace dorvane
