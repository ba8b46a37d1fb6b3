// Time limits of the outbound sessions. A connect that takes more than 60
// seconds, or a session that waits more than 5 minutes for a reply (an
// exchanger that accepts and never speaks), would otherwise keep its slot
// and its file for ever; such a session is failed as a time-out.
#pragma once

#include <cstdint>
#include <functional>

namespace dorvane {

constexpr int64_t kConnectLimitSeconds = 60;
constexpr int64_t kReplyLimitSeconds = 5 * 60;

// Slot i has asked for a connection: the connect limit starts.
void StartConnectLimit(int i);
// Slot i is connected or has sent something: the reply limit starts again.
void StartReplyLimit(int i);

// Whether slot i's limit has passed at `now` (seconds of the session clock).
bool SessionLimitPassed(int i, int64_t now);

// Fails every session (slot states 3 to 11) whose limit has passed with
// error 10060 "Connection timed out.", through the failure decisions.
// Run by a timer every few seconds. Guarded ("FRM:MAIN[tmrSessionLimit_Timer]").
void CheckSessionLimits();

// The session clock in seconds (monotonic by default); tests set their own.
// nullptr restores the default.
void SetSessionClock(std::function<int64_t()> clock);
int64_t SessionClockNow();

}  // namespace dorvane
