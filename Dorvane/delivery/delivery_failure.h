// What happens to a message whose delivery attempt does not end in "sent":
// the next exchanger of the route, a deferral with a delay notice, a bounce
// to its sender, or the Error folder (a smarthost that cannot be reached,
// or a notice that fails itself and must not cause another one). Decided
// per message file: all recipients share one outcome.
#pragma once

#include <string>

namespace dorvane {

// "host [ip]" of a log line; the host alone when no address is known
// (the name did not resolve).
std::string PeerText(const std::string& host, const std::string& ip);

// The reason text of a socket error number in the mail-log lines ("refused
// by peer" for 10061, ..., "unknown reason: n" for others).
std::string FailureReason(int number);

// The socket of outbound slot i failed (error number and description):
// next host, Error folder, deferral or bounce as the route, the attempt
// count and the message allow. Only a slot in a live session (states 3 to
// 11) is handled; events of a slot that is already ending are ignored.
// Guarded ("FRM:MAIN[SmtpDistant_Error]").
void SmtpDistant_Error(int i, int number, const std::string& description);

// Where a refusal came: at a recipient (the last one sent) or for the
// message as a whole (greeting, HELO, MAIL FROM, after the body).
enum class RefusedAt { Recipient, Message };

// The server of slot i refused for good with `reply` (a whole 5xx reply):
// QUIT, then a bounce at once, or the Error folder for a notice. The
// reply's first line is the reason. Runs inside the data-arrival handler,
// under its guard.
void RefuseMessage(int i, const std::string& reply, RefusedAt where);

// The server of slot i failed the attempt for now with `reply` (a 4xx, or
// a reply that fits no state): QUIT, close, then as for a socket error but
// with the reply's first line as the reason: the next exchanger, else a
// deferral with its notice, a bounce once the attempts are used up. A
// smarthost's reply is no reason to give up its route: the message is
// deferred. Runs inside the data-arrival handler, under its guard.
void ReplyFailure(int i, const std::string& reply);

// The route of slot i's message is "NONE" for `domain`: the "421 No MX DNS
// available" line, then a bounce once the attempts are used up (never for a
// notice), otherwise a quiet deferral. Frees the slot and enables the
// outbox timer.
void NoRouteOutcome(int i, const std::string& domain);

}  // namespace dorvane
