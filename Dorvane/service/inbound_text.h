// The pure text rules of the inbound SMTP session: who may relay, what a
// valid address is, how command arguments are cut out and checked, and
// where the message text ends. No sockets, no logs.
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

// The reply to a client that finds no slot (all busy, or its address at its
// limit), CR LF included, and its mail-log line after the date stamp.
extern const char kTooManyReply[];
extern const char kTooManyLogLine[];

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

// Whether `line` (one command line, its CR LF included) holds a control
// byte (below 0x20, or 0x7F) before its final CR LF. Such a line is never
// taken apart into arguments: a LF or NUL in an address would reach the
// next server's dialogue, the logs or the DNS lookup.
bool HasControlByte(std::string_view line);

// Follows the message text as it arrives, in pieces cut anywhere, and finds
// where it ends: at the first CR LF "." CR LF of the stream (or a "." CR LF
// right at its start). Also notes a CR or LF that is not part of a CR LF
// pair, which the text may not hold.
class TextScan {
 public:
  // Scans `piece`, the next bytes of the text. Returns the number of bytes
  // of `piece` up to and including the CR LF that ends the "." line, or
  // std::string_view::npos when the text goes on past the piece.
  size_t Feed(std::string_view piece);
  // Whether a bare CR or a bare LF was seen so far.
  bool SawBareLineBreak() const { return bare_; }

 private:
  enum class Line { kStart, kDot, kOther };
  Line line_ = Line::kStart;
  bool pending_cr_ = false;  // the last byte was a CR
  bool bare_ = false;
};

}  // namespace dorvane
