// The pure text rules of the inbound SMTP session: who may relay, what a
// valid address is, how command arguments are cut out, and when a piece of
// message text ends the message. No sockets, no logs.
#pragma once

#include <string>
#include <string_view>

namespace dorvane {

// Inbound dialogue states (the slot's Status).
enum InboundState : int {
  kInAccepted = 1,  // relay check and greeting in progress
  kInGreeted = 4,   // greeting sent: HELO expected
  kInHelo = 5,      // HELO done, or after RSET: MAIL expected
  kInMail = 6,      // sender accepted (and after each RCPT)
  kInData = 8,      // receiving the message text
  kInQueued = 10,   // message queued: MAIL starts the next one
  kInQuit = 12,     // QUIT answered: closed once the reply is sent
};

// Whether a client at `remote_ip` may relay: exactly 127.0.0.1; or a
// 192.168. address when `relay` is on; or the computer's own address on
// that connection (`local_ip`). Nothing else.
bool RelayAllowed(const std::string& remote_ip, const std::string& local_ip, bool relay);

// One pair of angle brackets around the whole text and no other bracket,
// exactly one "@" inside, and a "." after it. "<>" and bare addresses are
// not valid.
bool IsValidAddress(const std::string& address);

// "220 Server Dorvane <version> on <local_ip> Ready (dorvane.example)" + CR LF.
std::string GreetingText(const std::string& local_ip);

// The first line of `unit`, without its line end.
std::string FirstLine(std::string_view unit);

// The text after `marker` in the lower-cased first line of `unit` (as
// received, not trimmed); false when the marker is absent.
bool ArgumentAfter(std::string_view unit, std::string_view marker, std::string* argument);

// Whether `unit` (a received text ending in CR LF) has "." as its last
// line, which ends the message text. Also true of the last five bytes (or
// all, when fewer) of everything received since DATA.
bool EndsMessage(std::string_view unit);

}  // namespace dorvane
