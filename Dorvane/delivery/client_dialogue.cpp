#include "delivery/client_dialogue.h"

#include <utility>

#include "base/socket_control.h"
#include "delivery/server_reply.h"
#include "log/logs.h"
#include "spool/message.h"

namespace dorvane {
namespace {

using Action = DialogueAction;

const char kCrLf[] = "\r\n";

// Builds the step of one event for one slot.
class Stepper {
 public:
  Stepper(const DialogueState& state, const DialogueFacts& facts) : facts_(facts) { step_.next = state; }

  DialogueStep Event(const DialogueEvent& event);

 private:
  const DialogueState& Now() const { return step_.next; }
  void Do(Action::Kind kind, std::string text = {}) { step_.actions.push_back(Action{kind, std::move(text)}); }
  std::string Slot() const { return "[" + std::to_string(facts_.slot) + "]"; }
  // "Dorvane/smtpdistant[i]: ID" of the mail-log lines.
  std::string Tag() const { return "Dorvane/smtpdistant" + Slot() + ": " + facts_.message.ID; }
  void Debug(const std::string& line, bool escape);
  void Send(const std::string& command, bool escape);
  void Reply(const std::string& reply);
  void Delivered(const std::string& reply);
  void Quit(DialogueEnding ending);
  void Unexpected(const std::string& reply);
  void Ended();

  const DialogueFacts& facts_;
  DialogueStep step_;
};

// The send line of the debug log; commands that carry addresses are escaped.
void Stepper::Debug(const std::string& line, bool escape) {
  Do(Action::kDebugLog, "<FONT COLOR='#0000FF'>Send to SMTPDISTANT" + Slot() + ": " + facts_.message.ID + " " +
                            (escape ? HtmlEscape(line) : line) + "</FONT><BR>");
}

// Announces `command` (without its line end) in the debug log and sends it.
void Stepper::Send(const std::string& command, bool escape) {
  const std::string line = command + kCrLf;
  Debug(line, escape);
  Do(Action::kSend, line);
  Do(Action::kStartReplyLimit);
}

// Sends QUIT; the session ends as `ending` says once it is handed over.
void Stepper::Quit(DialogueEnding ending) {
  step_.next.status = kOutEnding;
  step_.next.ending = std::move(ending);
  Send("QUIT", false);
}

void Stepper::Delivered(const std::string& reply) {
  // The file goes first: a crash after a "status=sent" line must not find
  // it and send it again.
  Do(Action::kDelivered);
  const std::string text = ReplyReason(reply);
  const CMessage& message = facts_.message;
  for (int k = 1; k <= message.MRcptToCount(); ++k)
    Do(Action::kMailLog, Tag() + " to=" + message.RcptTo(k) + ", relay=" + facts_.peer + ", status=sent (" + text + ")");
  Quit(DialogueEnding{DialogueEnding::kDelivered, "", RefusedAt::Message});
}

// A reply that fits no row: shown, then the session ends, for good on a
// 5xx, for now otherwise.
void Stepper::Unexpected(const std::string& reply) {
  Do(Action::kDebugLog, "<FONT COLOR='#FF0000'>" + facts_.message.ID + " RECEIVED DATA NOT IMPLEMENTED !</FONT><BR>");
  Do(Action::kUnexpected, Tag() + " unexpected reply: " + ReplyReason(reply));
  const int32_t state = Now().status;
  const bool at_recipient = state == kOutLastRcptSent || (state == kOutMailFromSent && Now().rcpt > 0);
  if (ReplyCode(reply).starts_with("5"))
    return Quit(DialogueEnding{DialogueEnding::kRefused, reply,
                               at_recipient ? RefusedAt::Recipient : RefusedAt::Message});
  Quit(DialogueEnding{DialogueEnding::kFailed, reply, RefusedAt::Message});
}

// One row of the table for a complete reply.
void Stepper::Reply(const std::string& reply) {
  DialogueState& next = step_.next;
  const int32_t state = next.status;
  const std::string code = ReplyCode(reply);
  if (state == kOutConnecting && code == "220") {
    next.status = kOutHeloSent;
    Send("HELO " + facts_.helo_name, false);
    return Do(Action::kScan);
  }
  if (state == kOutHeloSent && code == "250") {
    next.status = kOutMailFromSent;
    Send("MAIL FROM: " + facts_.message.From, true);
    return Do(Action::kScan);
  }
  if (state == kOutMailFromSent && code == "250") {
    next.rcpt = static_cast<uint8_t>(next.rcpt + 1);
    next.status = next.rcpt >= facts_.message.MRcptToCount() ? kOutLastRcptSent : kOutMailFromSent;
    Send("RCPT TO: " + facts_.message.RcptTo(next.rcpt), true);
    return Do(Action::kScan);
  }
  if (state == kOutLastRcptSent && code == "250") {
    next.status = kOutDataSent;
    Send("DATA", false);
    return Do(Action::kScan);
  }
  if (state == kOutLastRcptSent && code == "550")
    return Quit(DialogueEnding{DialogueEnding::kRefused, reply, RefusedAt::Recipient});
  if (state == kOutDataSent && code == "354") {
    next.status = kOutBodySending;
    // Sent exactly as stored: no dot doubling, the end line after an added CR LF.
    Do(Action::kSend, facts_.message.Data + "\r\n.\r\n");
    Do(Action::kStartReplyLimit);
    Do(Action::kDebugLog, "<FONT COLOR='#0000FF'>Send to SMTPDISTANT" + Slot() + ": " + facts_.message.ID +
                              " **** DATA ****</FONT><BR>");
    return Do(Action::kScan);
  }
  // The final reply may overtake the send-complete event: the body is
  // handed over once the server has answered it.
  const bool body_sent = state == kOutBodySent || state == kOutBodySending;
  if (body_sent && code == "250") return Delivered(reply);
  if (body_sent && code == "550") return Quit(DialogueEnding{DialogueEnding::kRefused, reply, RefusedAt::Message});
  Unexpected(reply);
}

// The QUIT is handed over, or the connection ended first: the session's
// outcome, then a scan.
void Stepper::Ended() {
  DialogueEnding ending = std::exchange(step_.next.ending, DialogueEnding{});
  Do(Action::kClose);
  switch (ending.kind) {
    case DialogueEnding::kDelivered: Do(Action::kRelease); break;
    case DialogueEnding::kRefused:
      step_.actions.push_back(Action{Action::kRefuse, ending.reply, 0, ending.where});
      break;
    case DialogueEnding::kFailed: Do(Action::kReplyFailure, ending.reply); break;
    case DialogueEnding::kNone: break;
  }
  Do(Action::kScan);
}

DialogueStep Stepper::Event(const DialogueEvent& event) {
  const int32_t state = Now().status;
  if (state == kOutEnding && Now().ending.kind != DialogueEnding::kNone) {
    if (event.kind != DialogueEvent::kReply && event.kind != DialogueEvent::kConnect) Ended();
    return std::move(step_);
  }
  if (!InSession(state)) return std::move(step_);
  switch (event.kind) {
    case DialogueEvent::kConnect:
      Do(Action::kMailLog, Tag() + " connect to " + facts_.peer);
      Do(Action::kStartReplyLimit);
      break;
    case DialogueEvent::kReply: Reply(event.bytes); break;
    case DialogueEvent::kSendComplete:
      if (state != kOutBodySending) break;
      step_.next.status = kOutBodySent;
      Do(Action::kStartReplyLimit);
      break;
    case DialogueEvent::kClose:
      // A peer that closes a live session is a failure.
      step_.actions.push_back(Action{Action::kSocketFailure, "Software caused connection abort.", kWsaEconnaborted});
      break;
    case DialogueEvent::kError:
      step_.actions.push_back(Action{Action::kSocketFailure, event.bytes, event.number});
      break;
  }
  return std::move(step_);
}

}  // namespace

DialogueStep StepDialogue(const DialogueState& state, const DialogueEvent& event, const DialogueFacts& facts) {
  return Stepper(state, facts).Event(event);
}

}  // namespace dorvane
