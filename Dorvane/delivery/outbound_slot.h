// Chores every part of the delivery side shares: the date stamp of its log
// lines, read on the environment's clock, and the release of an outbound
// slot.
#pragma once

#include <string>

namespace dorvane {

class Clock;
struct Environment;

// GMTDate at the clock's present moment.
std::string LogStamp(Clock& clock);

// Frees outbound slot i: Status 0, its message and MX list cleared, its
// socket element unloaded, its connections-view row refreshed, and the
// outbox timer enabled so the queue is scanned again. The slot keeps
// CurrentOutFile. Guarded ("MOD:MODConnexion[ReleaseSmtpDistant]").
void ReleaseSmtpDistant(const Environment& env, int i);

}  // namespace dorvane
