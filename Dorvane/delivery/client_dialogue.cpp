#include "delivery/client_dialogue.h"

#include <utility>

#include "base/socket_control.h"
#include "delivery/ehlo_reply.h"
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
  const DialogueSecurity& Security() const { return facts_.security; }
  void Debug(const std::string& line, bool escape);
  void Send(const std::string& command, bool escape);
  void SendHidden(const std::string& command, const std::string& shown);
  void Reply(const std::string& reply);
  void Greeted();
  void Ehlo();
  void MailFrom();
  void SendEnvelope();
  bool Preamble(const std::string& reply);
  void AfterEhlo(const std::string& reply);
  void AfterStartTls(const std::string& reply);
  bool Authenticate(const EhloCapabilities& caps);
  bool SendPassword(const std::string& prefix);
  void Connected();
  void TlsReady(const std::string& description);
  void TlsFailed(const std::string& description);
  void Delivered(const std::string& reply);
  void Quit(DialogueEnding ending);
  void Unexpected(const std::string& reply);
  void Ended();

  const DialogueFacts& facts_;
  DialogueStep step_;
};

// The send line of the debug log; commands that carry addresses are escaped.
void Stepper::Debug(const std::string& line, bool escape) {
  if (!facts_.debug) return;
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

// Sends a command that carries credentials: the debug log shows `shown`.
void Stepper::SendHidden(const std::string& command, const std::string& shown) {
  Debug(shown + kCrLf, false);
  Do(Action::kSend, command + kCrLf);
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
  if (facts_.debug)
    Do(Action::kDebugLog, "<FONT COLOR='#FF0000'>" + facts_.message.ID + " RECEIVED DATA NOT IMPLEMENTED !</FONT><BR>");
  Do(Action::kUnexpected, Tag() + " unexpected reply: " + ReplyReason(reply));
  const int32_t state = Now().status;
  const bool at_recipient = state == kOutLastRcptSent || (state == kOutMailFromSent && Now().rcpt > 0);
  // Before MAIL FROM with extensions, a refusal is the server's, not the
  // message's: it waits for the next attempt.
  if (ReplyCode(reply).starts_with("5") && !InPreamble(state))
    return Quit(DialogueEnding{DialogueEnding::kRefused, reply,
                               at_recipient ? RefusedAt::Recipient : RefusedAt::Message});
  Quit(DialogueEnding{DialogueEnding::kFailed, reply, RefusedAt::Message});
}

// One row of the table for a complete reply.
void Stepper::Reply(const std::string& reply) {
  DialogueState& next = step_.next;
  const int32_t state = next.status;
  const std::string code = ReplyCode(reply);
  // Plain bytes that beat the handshake are no reply of this session.
  if (state == kOutTlsStarting) return;
  if (state == kOutConnecting && code == "220") return Greeted();
  if (state == kOutHeloSent && code == "250") return MailFrom();
  if (InPreamble(state) && Preamble(reply)) return;
  if (state == kOutMailFromSent && code == "250") {
    next.rcpt = static_cast<uint8_t>(next.rcpt + 1);
    next.status = next.rcpt >= facts_.message.MRcptToCount() ? kOutLastRcptSent : kOutMailFromSent;
    if (next.pipelining) return Do(Action::kStartReplyLimit);  // its command went with the envelope
    Send("RCPT TO: " + facts_.message.RcptTo(next.rcpt), true);
    return Do(Action::kScan);
  }
  if (state == kOutLastRcptSent && code == "250") {
    next.status = kOutDataSent;
    if (next.pipelining) return Do(Action::kStartReplyLimit);
    Send("DATA", false);
    return Do(Action::kScan);
  }
  if (state == kOutLastRcptSent && code == "550")
    return Quit(DialogueEnding{DialogueEnding::kRefused, reply, RefusedAt::Recipient});
  if (state == kOutDataSent && code == "354") {
    next.status = kOutBodySending;
    // Sent exactly as stored: no dot doubling. The stored text keeps the CR
    // LF of its last line, so the end line follows it directly; only a
    // text without one (a generated or empty one) gets a CR LF first, and a
    // relayed message never gains an empty line.
    const std::string& data = facts_.message.Data;
    const bool ends_line = data.empty() || data.ends_with("\r\n");
    Do(Action::kSend, data + (ends_line ? ".\r\n" : "\r\n.\r\n"));
    Do(Action::kStartReplyLimit);
    if (facts_.debug)
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

void Stepper::Greeted() {
  if (Security().mode != DialogueSecurity::kPlain) return Ehlo();
  // A login is never sent in plain: asking for one without TLS is a
  // fault of the settings, not of the message.
  if (!Security().user.empty())
    return Quit(DialogueEnding{DialogueEnding::kAuthFailed, "SmtpUser needs SmtpSecurity StartTls or Tls",
                               RefusedAt::Message});
  step_.next.status = kOutHeloSent;
  Send("HELO " + facts_.helo_name, false);
  Do(Action::kScan);
}

void Stepper::Ehlo() {
  step_.next.status = kOutEhloSent;
  Send("EHLO " + facts_.helo_name, false);
  Do(Action::kScan);
}

void Stepper::MailFrom() {
  step_.next.status = kOutMailFromSent;
  if (Now().pipelining)
    SendEnvelope();
  else
    Send("MAIL FROM: " + facts_.message.From, true);
  Do(Action::kScan);
}

// MAIL FROM, every RCPT TO and DATA in one send. The replies are then read
// one by one as if each command had waited for the one before, so a refusal
// ends the session where it would have without the batch (the QUIT that
// follows may land in the message text, which the close then throws away).
void Stepper::SendEnvelope() {
  const CMessage& message = facts_.message;
  std::string batch = "MAIL FROM: " + message.From + kCrLf;
  Debug(batch, true);
  for (int k = 1; k <= message.MRcptToCount(); ++k) {
    const std::string line = "RCPT TO: " + message.RcptTo(k) + kCrLf;
    Debug(line, true);
    batch += line;
  }
  Debug(std::string("DATA") + kCrLf, false);
  Do(Action::kSend, batch + "DATA" + kCrLf);
  Do(Action::kStartReplyLimit);
}

// The rows between the greeting and MAIL FROM; false for a reply that fits
// none of them. A refusal of the login is the settings' fault.
bool Stepper::Preamble(const std::string& reply) {
  DialogueState& next = step_.next;
  const std::string code = ReplyCode(reply);
  const bool refused = code.starts_with("5");
  switch (next.status) {
    case kOutEhloSent:
      if (code == "250") {
        AfterEhlo(reply);
        return true;
      }
      // An exchanger that does not know EHLO gets the dialogue it knows.
      if (!refused || Security().mode != DialogueSecurity::kExchanger || next.tls) return false;
      next.status = kOutHeloSent;
      Send("HELO " + facts_.helo_name, false);
      Do(Action::kScan);
      return true;
    case kOutStartTlsSent: AfterStartTls(reply); return true;
    case kOutAuthLoginSent:
      if (code != "334") break;
      next.status = kOutAuthUserSent;
      SendHidden(Base64(Security().user), "****");
      return true;
    case kOutAuthUserSent:
      if (code != "334") break;
      next.status = kOutAuthSent;
      SendPassword("");
      return true;
    case kOutAuthSent:
      if (code != "235") break;
      MailFrom();
      return true;
  }
  if (!refused) return false;
  Quit(DialogueEnding{DialogueEnding::kAuthFailed, ReplyReason(reply), RefusedAt::Message});
  return true;
}

void Stepper::AfterEhlo(const std::string& reply) {
  const EhloCapabilities caps = ReadCapabilities(reply);
  const bool tls = Now().tls;
  if (Security().mode == DialogueSecurity::kStartTls && !tls && !caps.starttls) {
    // Never on in plain: the message waits for a server that offers TLS.
    return Quit(DialogueEnding{DialogueEnding::kFailed, "STARTTLS not offered (" + ReplyReason(reply) + ")",
                               RefusedAt::Message});
  }
  if (caps.starttls && !tls && !Now().plain_only) {
    step_.next.status = kOutStartTlsSent;
    Send("STARTTLS", false);
    return Do(Action::kScan);
  }
  step_.next.pipelining = caps.pipelining;
  if (!tls || Security().user.empty()) return MailFrom();
  if (Authenticate(caps)) Do(Action::kScan);
}

void Stepper::AfterStartTls(const std::string& reply) {
  if (ReplyCode(reply) == "220") {
    step_.next.status = kOutTlsStarting;
    const bool verify = Security().mode != DialogueSecurity::kExchanger && Security().verify;
    step_.actions.push_back(Action{Action::kStartTls, Security().host, verify ? 1 : 0});
    return Do(Action::kStartReplyLimit);
  }
  // An exchanger that will not start TLS after all still takes the mail
  // on this connection; the smarthost's message waits.
  if (Security().mode == DialogueSecurity::kExchanger) return MailFrom();
  Quit(DialogueEnding{DialogueEnding::kFailed, reply, RefusedAt::Message});
}

// Starts the login the server offers, PLAIN before LOGIN; false when the
// session ends instead (no mechanism we speak, no usable password).
bool Stepper::Authenticate(const EhloCapabilities& caps) {
  if (!caps.auth_plain && !caps.auth_login) {
    Quit(DialogueEnding{DialogueEnding::kAuthFailed, "no AUTH PLAIN or LOGIN offered", RefusedAt::Message});
    return false;
  }
  if (caps.auth_plain) {
    step_.next.status = kOutAuthSent;
    return SendPassword("AUTH PLAIN ");
  }
  const SmtpSecret secret = Security().secret ? Security().secret() : SmtpSecret{};
  if (!secret.fault.empty()) {
    Quit(DialogueEnding{DialogueEnding::kAuthFailed, secret.fault, RefusedAt::Message});
    return false;
  }
  step_.next.status = kOutAuthLoginSent;
  SendHidden("AUTH LOGIN", "AUTH LOGIN");
  return true;
}

// Sends the password, read now: the PLAIN response after `prefix`, or the
// bare LOGIN answer. False when there is no usable password.
bool Stepper::SendPassword(const std::string& prefix) {
  const SmtpSecret secret = Security().secret ? Security().secret() : SmtpSecret{"", "no password"};
  if (!secret.fault.empty()) {
    Quit(DialogueEnding{DialogueEnding::kAuthFailed, secret.fault, RefusedAt::Message});
    return false;
  }
  const std::string& user = Security().user;
  const std::string response = prefix.empty() ? secret.password : std::string(1, '\0') + user + '\0' + secret.password;
  SendHidden(prefix + Base64(response), prefix + "****");
  return true;
}

void Stepper::Connected() {
  Do(Action::kMailLog, Tag() + " connect to " + facts_.peer);
  if (Security().mode == DialogueSecurity::kTls && !Now().tls) {
    step_.next.status = kOutTlsStarting;
    step_.actions.push_back(Action{Action::kStartTls, Security().host, Security().verify ? 1 : 0});
  }
  Do(Action::kStartReplyLimit);
}

// TLS is up: one line tells the session's protocol and cipher. What was
// announced before it counts no more: EHLO again, or, on a connection that
// began in TLS, the greeting.
void Stepper::TlsReady(const std::string& description) {
  if (Now().status != kOutTlsStarting) return;
  step_.next.tls = true;
  step_.next.pipelining = false;
  Do(Action::kMailLog, Tag() + " tls=" + ReplyReason(description) + ", relay=" + facts_.peer);
  if (Security().mode != DialogueSecurity::kTls) return Ehlo();
  step_.next.status = kOutConnecting;
  Do(Action::kStartReplyLimit);
}

// The handshake failed (the socket is closed). An exchanger gets the
// message in plain on a new connection, once; for the smarthost it is a
// failure for now, never a reason to give up its route.
void Stepper::TlsFailed(const std::string& description) {
  const std::string reason = std::to_string(kTlsFailure) + ": " + ReplyReason(description);
  if (Security().mode == DialogueSecurity::kExchanger && Now().status == kOutTlsStarting && !Now().plain_only) {
    Do(Action::kMailLog, Tag() + " TLS failed (" + reason + ") for " + facts_.peer + ", status=trying again in plain");
    step_.next = DialogueState{kOutConnecting, 0, {}, false, true};
    return Do(Action::kReconnect);
  }
  if (Security().mode == DialogueSecurity::kExchanger)
    return step_.actions.push_back(Action{Action::kSocketFailure, ReplyReason(description), kTlsFailure});
  Do(Action::kClose);
  Do(Action::kReplyFailure, reason);
  Do(Action::kScan);
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
    case DialogueEnding::kAuthFailed: Do(Action::kAuthFailure, ending.reply); break;
    case DialogueEnding::kNone: break;
  }
  Do(Action::kScan);
}

DialogueStep Stepper::Event(const DialogueEvent& event) {
  const int32_t state = Now().status;
  if (state == kOutEnding && Now().ending.kind != DialogueEnding::kNone) {
    const bool ends = event.kind != DialogueEvent::kReply && event.kind != DialogueEvent::kConnect &&
                      event.kind != DialogueEvent::kTlsReady;
    if (ends) Ended();
    return std::move(step_);
  }
  if (!InSession(state)) return std::move(step_);
  switch (event.kind) {
    case DialogueEvent::kConnect: Connected(); break;
    case DialogueEvent::kTlsReady: TlsReady(event.bytes); break;
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
      if (event.number == kTlsFailure) return TlsFailed(event.bytes), std::move(step_);
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
