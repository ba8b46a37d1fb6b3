// The server side of the SMTP dialogue with one client, as a state machine
// that touches nothing outside itself: each step takes an event (and the
// bytes it carries) and returns what is to be done (send a reply, write a
// log line, set a time limit, queue the message, ask for a queue scan,
// close). Its caller owns the sockets, the spool, the logs and the clock.
//
// Received bytes are cut at each CR LF into command lines, answered one
// after the other (a client may send several at once); after DATA they are
// message text up to the first CR LF "." CR LF, and whatever follows is
// commands again. Bounds: a command line over 64 KiB gets "500 Line too
// long."; a message text over 64 MiB is dropped as it arrives and refused
// with 552 at its end; more than 255 recipients get 452.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "service/inbound_text.h"

namespace dorvane {

class CMessage;

constexpr size_t kMaxCommandBytes = 64 * 1024;
constexpr uint8_t kMaxRecipients = 255;
// Time a client has for one command line, and for the message text.
constexpr std::chrono::minutes kIdleTimeout{5};
constexpr std::chrono::minutes kDataTimeout{10};
// How long a closing connection may take to flush its last reply.
constexpr std::chrono::seconds kCloseGrace{30};

enum class InboundEvent {
  kGreet,        // the client may relay and has a slot: greet it
  kTurnAway,     // the client's address holds too many slots: 421, then close
  kBytes,        // bytes received from the client
  kQueued,       // the message of the last kQueue action is in OutBox
  kNoRoom,       // ... was not written: the spool is short of room
  kQueueFailed,  // ... could not be written; the bytes describe the error
  kTimeUp,       // the last time limit ran out
  kFlushed,      // every reply sent so far has left
  kPeerGone,     // the connection closed or failed under us
};

struct InboundAction {
  enum Kind {
    kSend,     // send `text` to the client
    kMailLog,  // mail-log line: the date stamp, then `text`
    kDebug,    // debug-log entry `text` of kind `debug_kind`
    kLimit,    // the next kTimeUp is due `limit` from now (replaces the last)
    kQueue,    // write the message to OutBox, then step with the outcome
    kScan,     // ask the delivery side to scan OutBox
    kClose,    // close the connection now and free the slot
  };
  Kind kind;
  std::string text;
  int debug_kind = 0;
  std::chrono::seconds limit{0};
};

// The far end of the connection, as the logs and the greeting name it.
struct InboundPeer {
  std::string host;      // remote host name; may be empty
  std::string ip;        // remote address
  std::string local_ip;  // this computer's address on the connection
};

class InboundDialogue {
 public:
  // The dialogue of inbound slot `slot` with `peer`, accepted but not yet
  // greeted (kInAccepted).
  InboundDialogue(int slot, InboundPeer peer);

  // One step. `message` is the slot's message being built (sender,
  // recipients, text); it is cleared, filled and emptied here. After a
  // kQueue action nothing more is read until the outcome (kQueued, kNoRoom
  // or kQueueFailed) is stepped; bytes that came with the message text are
  // held and handled then.
  std::vector<InboundAction> Step(InboundEvent event, std::string_view bytes, CMessage& message);

  // Whether the steps give kDebug actions (on at first). Off, the debug
  // texts are not even made: a message's text is escaped for them.
  void SetDebug(bool on) { debug_ = on; }

  // The dialogue state (InboundState), 0 once closed.
  int status() const { return status_; }
  // Received bytes held for later: an incomplete command line (at most
  // kMaxCommandBytes), or commands waiting for a queue outcome.
  size_t held() const { return pending_.size(); }

 private:
  void Greet();
  void TurnAway();
  void Arrival(std::string_view bytes);
  size_t CommandLine(std::string_view pending);
  size_t TextBytes(std::string_view pending);
  void Command(const std::string& line);
  void Helo(const std::string& line);
  void Mail(const std::string& line, bool log_client);
  void Rcpt(const std::string& line);
  void StartData();
  void EndOfText();
  void QueueOutcome(InboundEvent event, std::string_view description);
  void TimeUp();
  void Close();
  void Refuse(const std::string& reply);
  void Reply(const std::string& reply, bool bold = false);
  void LogLocal(const std::string& text);
  void LogReceived(std::string_view text);
  void Add(InboundAction::Kind kind, std::string text = {}, int debug_kind = 0);
  void Limit(std::chrono::seconds limit);

  int slot_;
  InboundPeer peer_;
  int status_ = kInAccepted;
  bool debug_ = true;
  std::string pending_;           // received, not handled yet
  size_t searched_ = 0;           // leading bytes of pending_ known to hold no CR LF
  bool discarding_line_ = false;  // inside a command line over the limit
  bool oversize_ = false;         // message text over the limit, dropped
  bool queuing_ = false;          // waiting for the outcome of kQueue
  TextScan scan_;                 // where the message text ends
  CMessage* message_ = nullptr;   // during a step
  std::vector<InboundAction> actions_;
};

}  // namespace dorvane
