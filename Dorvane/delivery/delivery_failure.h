// What happens to a message whose delivery attempt does not end in "sent":
// the next exchanger of the route, a deferral with a delay notice, a bounce
// to its sender, or the Error folder (a smarthost that cannot be reached,
// or a notice that fails itself and must not cause another one). Decided
// per message file: all recipients share one outcome.
#pragma once

#include <string>

#include "delivery/session_states.h"

namespace dorvane {

class CMessage;
class SessionLimits;
class SpoolMoves;
struct Environment;

// "host [ip]" of a log line; the host alone when no address is known
// (the name did not resolve).
std::string PeerText(const std::string& host, const std::string& ip);

// The reason text of a socket error number in the mail-log lines ("refused
// by peer" for 10061, ..., "unknown reason: n" for others).
std::string FailureReason(int number);

class DeliveryFailure {
 public:
  DeliveryFailure(Environment& env, SpoolMoves& moves, SessionLimits& limits)
      : env_(env), moves_(moves), limits_(limits) {}

  // The socket of outbound slot i failed (error number and description):
  // next host, Error folder, deferral or bounce as the route, the attempt
  // count and the message allow. Only a slot in a live session (states 3 to
  // 11) is handled; events of a slot that is already ending are ignored.
  // Guarded ("FRM:MAIN[SmtpDistant_Error]").
  void SocketError(int i, int number, const std::string& description);

  // The server of slot i refused for good with `reply` (a whole 5xx reply)
  // and its QUIT is out: a bounce at once, or the Error folder for a notice.
  // The reply's first line is the reason. Frees the slot.
  void Refuse(int i, const std::string& reply, RefusedAt where);

  // The server of slot i failed the attempt for now with `reply` (a 4xx, or
  // a reply that fits no state) and its QUIT is out: as for a socket error
  // but with the reply's first line as the reason: the next exchanger, else
  // a deferral with its notice, a bounce once the attempts are used up. A
  // smarthost's reply is no reason to give up its route: the message is
  // deferred.
  void ReplyFailure(int i, const std::string& reply);

  // The smarthost of slot i did not take the login (`why`: its reply, or
  // why no login was possible) and the QUIT is out. A fault of the
  // settings, not of the message: it goes back to Deferred with its
  // attempt given back and no notice, error.txt and the mail log say
  // "authentication failed", and the tray says it once per run. Frees the
  // slot.
  void AuthFailed(int i, const std::string& why);

  // The route of slot i's message is "NONE" for `domain`: the "421 No MX DNS
  // available" line, then a bounce once the attempts are used up (never for
  // a notice), otherwise a quiet deferral. Frees the slot and enables the
  // outbox timer.
  void NoRoute(int i, const std::string& domain);

 private:
  struct Failure;
  static std::string FailedFor(const Failure& failure);
  Failure AtPeer(int i, Failure failure);
  std::string LogPrefix(int i);
  void Bounce(const CMessage& message, const std::string& file);
  void Defer(const CMessage& message, const std::string& file);
  void AttemptFailed(int i, const Failure& failure);
  void SmarthostFailed(int i, const Failure& failure);
  void TryNextHost(int i, const Failure& failure);
  void AllHostsFailed(int i, const Failure& failure);

  Environment& env_;
  SpoolMoves& moves_;
  SessionLimits& limits_;
  bool auth_notice_shown_ = false;
};

}  // namespace dorvane
