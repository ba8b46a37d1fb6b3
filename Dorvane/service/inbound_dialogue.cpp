#include "service/inbound_dialogue.h"

#include <utility>

#include "base/field_reader.h"
#include "log/logs.h"
#include "relay/connexion.h"
#include "spool/message.h"

namespace dorvane {
namespace {

const char kCrLf[] = "\r\n";
const char kSyntaxError[] = "501 Syntax error in parameters or arguments";
const char kBareLineBreak[] = "554 5.6.0 Bare CR or LF not allowed";
const char kNoStorage[] = "452 4.3.1 Insufficient system storage";
const char kTooBig[] = "552 Message size exceeds fixed maximum message size";
const char kTimeout[] = "421 Timeout, closing connection";

}  // namespace

InboundDialogue::InboundDialogue(int slot, InboundPeer peer) : slot_(slot), peer_(std::move(peer)) {}

std::vector<InboundAction> InboundDialogue::Step(InboundEvent event, std::string_view bytes,
                                                 CMessage& message) {
  message_ = &message;
  switch (event) {
    case InboundEvent::kGreet:
      Greet();
      break;
    case InboundEvent::kTurnAway:
      TurnAway();
      break;
    case InboundEvent::kBytes:
      Arrival(bytes);
      break;
    case InboundEvent::kQueued:
    case InboundEvent::kNoRoom:
    case InboundEvent::kQueueFailed:
      QueueOutcome(event, bytes);
      break;
    case InboundEvent::kTimeUp:
      TimeUp();
      break;
    case InboundEvent::kFlushed:
      if (status_ == kInQuit) Close();
      break;
    case InboundEvent::kPeerGone:
      if (status_ != 0) Close();
      break;
  }
  message_ = nullptr;
  return std::exchange(actions_, {});
}

// ---- opening and closing --------------------------------------------------

void InboundDialogue::Greet() {
  std::string greeting = GreetingText(peer_.local_ip);
  LogLocal("connect from " + peer_.host + " [" + peer_.ip + "]");
  Add(InboundAction::kDebug, "<FONT COLOR='#FF0000'><B>Demande de connexion Smtp local ...</B></FONT><BR>");
  Add(InboundAction::kDebug, "<FONT COLOR='#0000FF'>Send to Smtp local: " + greeting + "</FONT><BR>");
  status_ = kInGreeted;
  Limit(kIdleTimeout);
  Add(InboundAction::kSend, greeting);
}

void InboundDialogue::TurnAway() {
  Add(InboundAction::kMailLog, kTooManyLogLine);
  status_ = kInQuit;
  Limit(kCloseGrace);
  Add(InboundAction::kSend, kTooManyReply);
}

// A limit ran out: a client in the middle of something gets the 421; one
// that never took its last reply is closed.
void InboundDialogue::TimeUp() {
  if (status_ == 0) return;
  if (status_ == kInQuit) return Close();
  LogLocal(kTimeout);
  status_ = kInQuit;
  Limit(kCloseGrace);
  Reply(kTimeout);
}

void InboundDialogue::Close() {
  status_ = 0;
  pending_.clear();
  Add(InboundAction::kClose);
}

// ---- received bytes -------------------------------------------------------

// Takes the received bytes apart: command lines one by one, message text
// up to its end, and so on; an incomplete line waits in pending_.
void InboundDialogue::Arrival(std::string_view bytes) {
  std::string joined;
  std::string_view rest = bytes;
  if (!pending_.empty()) {
    joined = std::exchange(pending_, std::string());
    joined.append(bytes);
    rest = joined;
  }
  while (!rest.empty()) {
    if (status_ == 0 || status_ == kInQuit) return;  // closing: nothing more is read
    if (queuing_) {
      searched_ = 0;
      break;
    }
    size_t used = status_ == kInData ? TextBytes(rest) : CommandLine(rest);
    if (used == 0) break;
    rest.remove_prefix(used);
    searched_ = 0;
  }
  pending_.assign(rest);
}

// Handles the first command line of `pending`; returns the bytes used (0
// when the line is not complete yet).
size_t InboundDialogue::CommandLine(std::string_view pending) {
  size_t end = pending.find(kCrLf, searched_);
  if (end == std::string_view::npos) {
    searched_ = pending.size() - 1;  // the last byte may be the CR of the line end
    if (pending.size() <= kMaxCommandBytes) return 0;
    discarding_line_ = true;
    return pending.size() - 1;
  }
  size_t used = end + 2;
  Limit(kIdleTimeout);  // the next line starts here
  if (std::exchange(discarding_line_, false) || used > kMaxCommandBytes) {
    Reply("500 Line too long.");
    return used;
  }
  std::string line(pending.substr(0, used));
  LogReceived(line);
  Command(line);
  return used;
}

// Takes message text from `pending` up to its end (then answers it);
// returns the bytes used.
size_t InboundDialogue::TextBytes(std::string_view pending) {
  size_t end = scan_.Feed(pending);
  std::string_view piece = pending.substr(0, end);
  LogReceived(piece);
  CMessage& msg = *message_;
  if (!oversize_ && msg.Data.size() + piece.size() > kMaxMessageBytes + 3) {
    oversize_ = true;  // dropped as it arrives; refused at its end
    std::string().swap(msg.Data);
  }
  if (!oversize_) msg.Data.append(piece);
  if (end != std::string_view::npos) EndOfText();
  return piece.size();
}

// ---- the command table ----------------------------------------------------

void InboundDialogue::Command(const std::string& line) {
  if (HasControlByte(line)) return Reply(kSyntaxError);
  std::string word = GetResponse(line);
  if (status_ == kInGreeted && word == "HELO") return Helo(line);
  if (status_ == kInHelo && word == "MAIL") return Mail(line, true);
  if (status_ == kInQueued && word == "MAIL") return Mail(line, false);
  if (status_ == kInMail && word == "RCPT") return Rcpt(line);
  if (status_ == kInMail && word == "DATA") return StartData();
  if (word == "RSET") {
    message_->MClear();
    status_ = kInHelo;
    return Reply("250 Reset Ok.", true);
  }
  if (word == "NOOP") return Reply("250 Noop Ok.", true);
  if (word == "QUIT") {
    status_ = kInQuit;
    Limit(kCloseGrace);
    LogLocal("disconnect from " + peer_.host + " [" + peer_.ip + "]");
    return Reply("221 Dorvane Goodbye");
  }
  LogLocal("500 Unrecognized command");
  Reply("500 Unrecognized command.");
}

void InboundDialogue::Helo(const std::string& line) {
  std::string text = FirstLine(line);
  if (text.size() < 5) return Reply(kSyntaxError);
  status_ = kInHelo;
  Reply("250 Hello " + text.substr(5));
}

void InboundDialogue::Mail(const std::string& line, bool log_client) {
  std::string arg;
  if (!ArgumentAfter(line, "mail from:", &arg)) return Reply(kSyntaxError);
  if (log_client)
    LogLocal("client=" + peer_.host + " [" + peer_.ip + "]");
  else
    message_->MClear();
  message_->From = TrimSpaces(arg);
  if (!IsValidAddress(message_->From)) return Reply("504 sender is " + arg + " sender is not a valid email");
  status_ = kInMail;
  Reply("250 sender is " + arg + " sender ok");
}

void InboundDialogue::Rcpt(const std::string& line) {
  std::string arg;
  if (!ArgumentAfter(line, "rcpt to:", &arg)) return Reply(kSyntaxError);
  std::string rcpt = TrimSpaces(arg);
  if (!IsValidAddress(rcpt)) return Reply("504 recipient is " + rcpt + " recipient is not a valid email");
  if (message_->MRcptToCount() >= kMaxRecipients) return Reply("452 Too many recipients");
  message_->AddRcptTo(rcpt);
  status_ = kInMail;
  Reply("250 recipient is " + rcpt + " recipient ok");
}

void InboundDialogue::StartData() {
  if (message_->MRcptToCount() == 0) return Reply("554 No valid recipients");
  status_ = kInData;
  message_->Data.clear();
  oversize_ = false;
  scan_ = TextScan();
  Limit(kDataTimeout);
  Reply("354 OK End with <CRLF>.<CRLF>");
}

// ---- end of the message text ----------------------------------------------

void InboundDialogue::EndOfText() {
  Limit(kIdleTimeout);
  if (oversize_) return Refuse(kTooBig);
  if (scan_.SawBareLineBreak()) {
    LogLocal(kBareLineBreak);
    return Refuse(kBareLineBreak);
  }
  CMessage& msg = *message_;
  msg.Data.resize(msg.Data.size() - 3);  // the "." line
  msg.TxtEng = SpoolWarningEnglish();
  msg.TxtFr = SpoolWarningFrench();
  msg.Essai = 0;
  queuing_ = true;
  Add(InboundAction::kQueue);
}

void InboundDialogue::QueueOutcome(InboundEvent event, std::string_view description) {
  if (!std::exchange(queuing_, false)) return;
  if (event == InboundEvent::kNoRoom) {
    LogLocal(kNoStorage);
    Refuse(kNoStorage);
  } else if (event == InboundEvent::kQueueFailed) {
    LogLocal("451 local error in processing: " + std::string(description));
    Refuse("451 Requested action aborted: local error in processing");
  } else {
    status_ = kInQueued;
    LogLocal(" to=" + message_->RcptTo(1) + " status=outbox");
    std::string().swap(message_->Data);  // on disk now
    Reply("250 Message accepted for delivery");
    Add(InboundAction::kScan);
  }
  Arrival({});  // the commands that came with the text
}

// Ends the transaction without queuing: the message is dropped, HELO state.
void InboundDialogue::Refuse(const std::string& reply) {
  oversize_ = false;
  message_->MClear();
  status_ = kInHelo;
  Reply(reply);
}

// ---- replies and logs -----------------------------------------------------

void InboundDialogue::Reply(const std::string& reply, bool bold) {
  if (debug_) {
    std::string head = "Send to Smtp local[" + std::to_string(slot_) + "]: " + HtmlEscape(reply);
    Add(InboundAction::kDebug, bold ? "<FONT COLOR='#0000FF'><B>" + head + "</B></FONT><BR>"
                                    : "<FONT COLOR='#0000FF'>" + head + "</FONT><BR>");
  }
  Add(InboundAction::kSend, reply + kCrLf);
}

void InboundDialogue::LogLocal(const std::string& text) {
  Add(InboundAction::kMailLog, " Dorvane/smtplocal[" + std::to_string(slot_) + "]: " + text);
}

void InboundDialogue::LogReceived(std::string_view text) {
  if (!debug_) return;
  std::string head = "Receive from Smtp local[" + std::to_string(slot_) + "]: ";
  Add(InboundAction::kDebug, head + "<I> ********** Message Corps du mail **********</I><BR>", kDbgBody);
  Add(InboundAction::kDebug, head + HtmlEscape(std::string(text)), kDbgBody);
}

void InboundDialogue::Add(InboundAction::Kind kind, std::string text, int debug_kind) {
  if (kind == InboundAction::kDebug && !debug_) return;
  actions_.push_back(InboundAction{kind, std::move(text), debug_kind, {}});
}

void InboundDialogue::Limit(std::chrono::seconds limit) {
  actions_.push_back(InboundAction{InboundAction::kLimit, {}, 0, limit});
}

}  // namespace dorvane
