// The outbound dialogue as a table: a state, an event and the bytes that
// arrive, then the state and the actions the dialogue asks for. Replies go
// through the reply assembly first, as the adapter feeds them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "delivery/client_dialogue.h"
#include "delivery/server_reply.h"
#include "base/socket_control.h"
#include "spool/message.h"

namespace dorvane {
namespace {

using Action = DialogueAction;
using Ending = DialogueEnding;
using Event = DialogueEvent;
using Actions = std::vector<Action>;

const std::string kTag = "Dorvane/smtpdistant[1]: F1";

// Builds the expected actions of a row.
struct Expect {
  Actions actions;
  Expect& Do(Action::Kind kind, std::string text = {}) { return Add(Action{kind, std::move(text)}); }
  Expect& Add(Action action) {
    actions.push_back(std::move(action));
    return *this;
  }
  // A command announced in the debug log (escaped or not), sent, and the
  // reply limit started again.
  Expect& Command(const std::string& line, const std::string& shown) {
    Do(Action::kDebugLog, "<FONT COLOR='#0000FF'>Send to SMTPDISTANT[1]: F1 " + shown + "</FONT><BR>");
    return Do(Action::kSend, line).Do(Action::kStartReplyLimit);
  }
  Expect& Command(const std::string& line) { return Command(line, line); }
  Expect& StartTls(const std::string& host, bool verify) {
    return Add(Action{Action::kStartTls, host, verify ? 1 : 0}).Do(Action::kStartReplyLimit);
  }
  Expect& Quit() { return Command("QUIT\r\n"); }
  Expect& Unexpected(const std::string& reason) {
    Do(Action::kDebugLog, "<FONT COLOR='#FF0000'>F1 RECEIVED DATA NOT IMPLEMENTED !</FONT><BR>");
    return Do(Action::kUnexpected, kTag + " unexpected reply: " + reason);
  }
};

struct Row {
  const char* name;
  DialogueState state;
  Event event;
  DialogueState next;
  Actions actions;
  const DialogueSecurity* security = nullptr;  // none: the plain smarthost
};

DialogueState At(int32_t status, uint8_t rcpt = 0, Ending ending = {}) { return DialogueState{status, rcpt, ending}; }
// The same inside TLS, or on the plain connection after a failed handshake.
DialogueState Tls(int32_t status, Ending ending = {}) { return DialogueState{status, 0, ending, true, false}; }
DialogueState PlainOnly(int32_t status) { return DialogueState{status, 0, {}, false, true}; }
// An envelope sent in one batch to a server that offers PIPELINING.
DialogueState Piped(int32_t status, uint8_t rcpt = 0, Ending ending = {}) {
  return DialogueState{status, rcpt, ending, false, false, true};
}
Ending AuthFailed(std::string why) { return Ending{Ending::kAuthFailed, std::move(why), RefusedAt::Message}; }
Event Reply(std::string bytes) { return Event{Event::kReply, std::move(bytes), 0}; }
Ending Refused(std::string reply, RefusedAt where) { return Ending{Ending::kRefused, std::move(reply), where}; }
Ending Failed(std::string reply) { return Ending{Ending::kFailed, std::move(reply), RefusedAt::Message}; }
const Ending kDelivered{Ending::kDelivered, "", RefusedAt::Message};

// A state and a list of actions as text, so that a failing row shows them.
std::string Where(RefusedAt where) { return where == RefusedAt::Recipient ? "recipient" : "message"; }
std::string Show(const DialogueState& state) {
  return std::to_string(state.status) + " rcpt " + std::to_string(state.rcpt) + " ending " +
         std::to_string(state.ending.kind) + " " + Where(state.ending.where) + " [" + state.ending.reply + "]" +
         (state.tls ? " tls" : "") + (state.plain_only ? " plain only" : "") + (state.pipelining ? " pipelining" : "");
}
std::vector<std::string> Show(const Actions& actions) {
  std::vector<std::string> shown;
  for (const Action& a : actions)
    shown.push_back(std::to_string(a.kind) + " " + std::to_string(a.number) + " " + Where(a.where) + " [" + a.text + "]");
  return shown;
}

// Runs one row: the bytes of a reply event go through a ReplyBuffer and
// each complete reply is one step while the session is live.
DialogueStep Play(const Row& row, DialogueFacts facts) {
  if (row.security) facts.security = *row.security;
  if (row.event.kind != Event::kReply) return StepDialogue(row.state, row.event, facts);
  ReplyBuffer buffer;
  buffer.Add(row.event.bytes);
  DialogueStep all{row.state, {}};
  std::string reply;
  while (InSession(all.next.status) && buffer.Take(&reply)) {
    DialogueStep step = StepDialogue(all.next, Reply(reply), facts);
    all.next = step.next;
    all.actions.insert(all.actions.end(), step.actions.begin(), step.actions.end());
  }
  return all;
}

TEST(ClientDialogue, EachEventGivesItsStateAndActions) {
  CMessage message;
  message.ID = "F1";
  message.From = "<sender@origin.test>";
  message.AddRcptTo("<a@dest.test>");
  message.AddRcptTo("<b@dest.test>");
  message.Data = "Subject: hello\r\n\r\nbody line\r\n";
  const std::string helo = "relay.test";
  const DialogueFacts facts{1, message, helo, "mx1.dest.test [127.0.0.7]"};
  const std::string sent = ", relay=mx1.dest.test [127.0.0.7], status=sent (250 2.0.0 queued as X)";
  const std::string spam = "550 5.7.1 spam\r\n";
  const std::string controls = std::string("554 5.7.1 a\0b", 13) + "\x1b[2J\x7f" + "c\r\n";
  const std::string busy = "421-4.3.2 too busy\r\n421 later\r\n";
  const Event close{Event::kClose, "", 0};
  const Event sent_all{Event::kSendComplete, "", 0};
  const Event tls_ready{Event::kTlsReady, "TLSv1.3 TLS_AES_256_GCM_SHA384", 0};
  const Event bad_certificate{Event::kError, "certificate verify failed\r\n", kTlsFailure};
  using S = DialogueSecurity;
  auto secret = [] { return SmtpSecret{"pa55", ""}; };
  const S exchanger{S::kExchanger, false, "mx1.dest.test", "", nullptr};
  const S starttls{S::kStartTls, true, "smtp.home.test", "me", secret};
  const S tls{S::kTls, true, "smtp.home.test", "", secret};
  const S plain_user{S::kPlain, true, "smtp.home.test", "me", secret};
  const S unverified{S::kStartTls, false, "smtp.home.test", "", secret};
  std::string long_ehlo = "250-mx1\r\n";
  for (int k = 0; k < 70; ++k) long_ehlo += "250-X-FILLER\r\n";
  long_ehlo += "250 STARTTLS\r\n";
  const S no_secret{S::kStartTls, true, "smtp.home.test", "me", [] { return SmtpSecret{"", "Dorvane.secret is missing"}; }};
  const std::string mail_from = "MAIL FROM: <sender@origin.test>\r\n";
  const std::string mail_from_shown = "MAIL FROM: &lt;sender@origin.test&gt;<BR>";
  const std::string ehlo = "EHLO relay.test\r\n";
  const std::string tls_line = kTag + " tls=TLSv1.3 TLS_AES_256_GCM_SHA384, relay=mx1.dest.test [127.0.0.7]";
  const Row rows[] = {
      // The path of a message to two recipients.
      {"connect", At(kOutConnecting), Event{Event::kConnect, "", 0}, At(kOutConnecting),
       Expect{}.Do(Action::kMailLog, kTag + " connect to mx1.dest.test [127.0.0.7]").Do(Action::kStartReplyLimit).actions},
      {"greeting", At(kOutConnecting), Reply("220-mx1 ESMTP\r\n220 ready\r\n"), At(kOutHeloSent),
       Expect{}.Command("HELO relay.test\r\n").Do(Action::kScan).actions},
      {"half a reply", At(kOutConnecting), Reply("220 rea"), At(kOutConnecting), {}},
      {"helo", At(kOutHeloSent), Reply("250 hello\r\n"), At(kOutMailFromSent),
       Expect{}.Command("MAIL FROM: <sender@origin.test>\r\n", "MAIL FROM: &lt;sender@origin.test&gt;<BR>")
           .Do(Action::kScan).actions},
      {"first recipient", At(kOutMailFromSent), Reply("250 sender ok\r\n"), At(kOutMailFromSent, 1),
       Expect{}.Command("RCPT TO: <a@dest.test>\r\n", "RCPT TO: &lt;a@dest.test&gt;<BR>").Do(Action::kScan).actions},
      {"last recipient", At(kOutMailFromSent, 1), Reply("250 ok\r\n"), At(kOutLastRcptSent, 2),
       Expect{}.Command("RCPT TO: <b@dest.test>\r\n", "RCPT TO: &lt;b@dest.test&gt;<BR>").Do(Action::kScan).actions},
      {"data", At(kOutLastRcptSent, 2), Reply("250-ok\r\n250-more\r\n250 ok\r\n"), At(kOutDataSent, 2),
       Expect{}.Command("DATA\r\n").Do(Action::kScan).actions},
      // Stored data keeps its last line's CR LF: the end mark follows it.
      {"body", At(kOutDataSent, 2), Reply("354 go\r\n"), At(kOutBodySending, 2),
       Expect{}.Do(Action::kSend, "Subject: hello\r\n\r\nbody line\r\n.\r\n").Do(Action::kStartReplyLimit)
           .Do(Action::kDebugLog, "<FONT COLOR='#0000FF'>Send to SMTPDISTANT[1]: F1 **** DATA ****</FONT><BR>")
           .Do(Action::kScan).actions},
      {"body handed over", At(kOutBodySending, 2), sent_all, At(kOutBodySent, 2),
       Expect{}.Do(Action::kStartReplyLimit).actions},
      {"delivered", At(kOutBodySent, 2), Reply("250 2.0.0 queued as X\r\n"), At(kOutEnding, 2, kDelivered),
       Expect{}.Do(Action::kDelivered).Do(Action::kMailLog, kTag + " to=<a@dest.test>" + sent)
           .Do(Action::kMailLog, kTag + " to=<b@dest.test>" + sent).Quit().actions},
      // The final reply may overtake the send-complete event; what follows
      // it in the same read is no reply of this session.
      {"final reply first", At(kOutBodySending, 2), Reply("250 2.0.0 queued as X\r\nfake 250\r\n"),
       At(kOutEnding, 2, kDelivered),
       Expect{}.Do(Action::kDelivered).Do(Action::kMailLog, kTag + " to=<a@dest.test>" + sent)
           .Do(Action::kMailLog, kTag + " to=<b@dest.test>" + sent).Quit().actions},
      {"second send-complete", At(kOutBodySent, 2), sent_all, At(kOutBodySent, 2), {}},
      // Refusals: a 550 to the last recipient or to the body.
      {"last recipient refused", At(kOutLastRcptSent, 2), Reply("550 5.1.1 no such user\r\n"),
       At(kOutEnding, 2, Refused("550 5.1.1 no such user\r\n", RefusedAt::Recipient)), Expect{}.Quit().actions},
      {"body refused, commands after it ignored", At(kOutBodySent, 2),
       Reply(spam + ".\r\nMAIL FROM:<ceo@bank.test>\r\nRCPT TO:<x@far.test>\r\n"),
       At(kOutEnding, 2, Refused(spam, RefusedAt::Message)), Expect{}.Quit().actions},
      // Replies that fit no row: a 5xx ends the session for good, anything
      // else for now; the logged reason is one clean, bounded line.
      {"busy greeting", At(kOutConnecting), Reply(busy), At(kOutEnding, 0, Failed("421-4.3.2 too busy\r\n421 later\r\n")),
       Expect{}.Unexpected("421-4.3.2 too busy").Quit().actions},
      {"not smtp", At(kOutConnecting), Reply("\x16\x03\x01 not smtp\r\n"),
       At(kOutEnding, 0, Failed("\x16\x03\x01 not smtp\r\n")), Expect{}.Unexpected(" not smtp").Quit().actions},
      {"greylisted sender", At(kOutMailFromSent), Reply("451 4.7.1 greylisted\r\n"),
       At(kOutEnding, 0, Failed("451 4.7.1 greylisted\r\n")), Expect{}.Unexpected("451 4.7.1 greylisted").Quit().actions},
      {"550 to HELO", At(kOutHeloSent), Reply("550 no\r\n"), At(kOutEnding, 0, Refused("550 no\r\n", RefusedAt::Message)),
       Expect{}.Unexpected("550 no").Quit().actions},
      {"552 to a recipient", At(kOutMailFromSent, 1), Reply("552 5.2.2 full\r\n"),
       At(kOutEnding, 1, Refused("552 5.2.2 full\r\n", RefusedAt::Recipient)),
       Expect{}.Unexpected("552 5.2.2 full").Quit().actions},
      {"controls and markup", At(kOutDataSent, 2), Reply(controls), At(kOutEnding, 2, Refused(controls, RefusedAt::Message)),
       Expect{}.Unexpected("554 5.7.1 ab[2Jc").Quit().actions},
      {"overlong", At(kOutDataSent, 2), Reply("554 " + std::string(600, 'x') + "\r\n"),
       At(kOutEnding, 2, Refused("554 " + std::string(600, 'x') + "\r\n", RefusedAt::Message)),
       Expect{}.Unexpected("554 " + std::string(508, 'x')).Quit().actions},
      {"no line end, too long to wait for", At(kOutConnecting), Reply(std::string(kMaxReplyBytes + 1, 'y')),
       At(kOutEnding, 0, Failed(std::string(kMaxReplyBytes + 1, 'y'))),
       Expect{}.Unexpected(std::string(kMaxReasonBytes, 'y')).Quit().actions},
      // A session that sent QUIT ends once the QUIT is out, or when the
      // connection ends first; replies meanwhile are not its own.
      {"reply to QUIT", At(kOutEnding, 2, kDelivered), Reply("221 bye\r\n"), At(kOutEnding, 2, kDelivered), {}},
      {"QUIT out after delivery", At(kOutEnding, 2, kDelivered), sent_all, At(kOutEnding, 2),
       Expect{}.Do(Action::kClose).Do(Action::kRelease).Do(Action::kScan).actions},
      {"peer closes after refusal", At(kOutEnding, 2, Refused(spam, RefusedAt::Recipient)), close, At(kOutEnding, 2),
       Expect{}.Do(Action::kClose).Add(Action{Action::kRefuse, spam, 0, RefusedAt::Recipient}).Do(Action::kScan).actions},
      {"QUIT times out after failure", At(kOutEnding, 0, Failed(busy)), Event{Event::kError, "Connection timed out.", 10060},
       At(kOutEnding), Expect{}.Do(Action::kClose).Do(Action::kReplyFailure, busy).Do(Action::kScan).actions},
      {"ending without QUIT", At(kOutEnding), sent_all, At(kOutEnding), {}},
      // Socket events of a live session are failures; of any other slot, nothing.
      {"peer closes", At(kOutHeloSent), close, At(kOutHeloSent),
       {Action{Action::kSocketFailure, "Software caused connection abort.", 10053}}},
      {"reset", At(kOutDataSent, 2), Event{Event::kError, "reset", 10054}, At(kOutDataSent, 2),
       {Action{Action::kSocketFailure, "reset", 10054}}},
      {"reply on a free slot", At(kOutFree), Reply("220 hi\r\n"), At(kOutFree), {}},
      {"connect while resolving", At(kOutReserved), Event{Event::kConnect, "", 0}, At(kOutReserved), {}},
      // An exchanger: EHLO first, HELO and the old dialogue when it is
      // refused, STARTTLS unverified when offered.
      {"exchanger greeting", At(kOutConnecting), Reply("220 mx1\r\n"), At(kOutEhloSent),
       Expect{}.Command(ehlo).Do(Action::kScan).actions, &exchanger},
      {"EHLO refused", At(kOutEhloSent), Reply("500 5.5.1 what?\r\n"), At(kOutHeloSent),
       Expect{}.Command("HELO relay.test\r\n").Do(Action::kScan).actions, &exchanger},
      {"EHLO for now", At(kOutEhloSent), Reply("421 busy\r\n"), At(kOutEnding, 0, Failed("421 busy\r\n")),
       Expect{}.Unexpected("421 busy").Quit().actions, &exchanger},
      {"STARTTLS offered", At(kOutEhloSent), Reply("250-mx1 hello\r\n250-PIPELINING\r\n250 starttls\r\n"),
       At(kOutStartTlsSent), Expect{}.Command("STARTTLS\r\n").Do(Action::kScan).actions, &exchanger},
      {"server named STARTTLS offers nothing", At(kOutEhloSent), Reply("250 STARTTLS\r\n"), At(kOutMailFromSent),
       Expect{}.Command(mail_from, mail_from_shown).Do(Action::kScan).actions, &exchanger},
      {"no STARTTLS on the plain retry", PlainOnly(kOutEhloSent), Reply("250-mx1\r\n250 STARTTLS\r\n"),
       DialogueState{kOutMailFromSent, 0, {}, false, true},
       Expect{}.Command(mail_from, mail_from_shown).Do(Action::kScan).actions, &exchanger},
      {"exchanger handshake unverified", At(kOutStartTlsSent), Reply("220 go ahead\r\nMAIL FROM:<x@evil.test>\r\n"),
       At(kOutTlsStarting), Expect{}.StartTls("mx1.dest.test", false).actions, &exchanger},
      {"only the first lines of EHLO are read", At(kOutEhloSent), Reply(long_ehlo), At(kOutMailFromSent),
       Expect{}.Command(mail_from, mail_from_shown).Do(Action::kScan).actions, &exchanger},
      // PIPELINING: the envelope in one send, its replies read in turn; a
      // refusal among them ends the session as it would have without.
      {"PIPELINING offered", At(kOutEhloSent), Reply("250-mx1\r\n250-pipelining\r\n250 8BITMIME\r\n"),
       Piped(kOutMailFromSent),
       Expect{}.Do(Action::kDebugLog, "<FONT COLOR='#0000FF'>Send to SMTPDISTANT[1]: F1 " + mail_from_shown + "</FONT><BR>")
           .Do(Action::kDebugLog, "<FONT COLOR='#0000FF'>Send to SMTPDISTANT[1]: F1 RCPT TO: &lt;a@dest.test&gt;<BR></FONT><BR>")
           .Do(Action::kDebugLog, "<FONT COLOR='#0000FF'>Send to SMTPDISTANT[1]: F1 RCPT TO: &lt;b@dest.test&gt;<BR></FONT><BR>")
           .Do(Action::kDebugLog, "<FONT COLOR='#0000FF'>Send to SMTPDISTANT[1]: F1 DATA\r\n</FONT><BR>")
           .Do(Action::kSend, mail_from + "RCPT TO: <a@dest.test>\r\nRCPT TO: <b@dest.test>\r\nDATA\r\n")
           .Do(Action::kStartReplyLimit).Do(Action::kScan).actions, &exchanger},
      {"pipelined replies in one read", Piped(kOutMailFromSent), Reply("250 ok\r\n250 ok\r\n250 ok\r\n354 go\r\n"),
       Piped(kOutBodySending, 2),
       Expect{}.Do(Action::kStartReplyLimit).Do(Action::kStartReplyLimit).Do(Action::kStartReplyLimit)
           .Do(Action::kSend, "Subject: hello\r\n\r\nbody line\r\n.\r\n").Do(Action::kStartReplyLimit)
           .Do(Action::kDebugLog, "<FONT COLOR='#0000FF'>Send to SMTPDISTANT[1]: F1 **** DATA ****</FONT><BR>")
           .Do(Action::kScan).actions, &exchanger},
      {"pipelined recipient refused", Piped(kOutMailFromSent), Reply("250 ok\r\n550 5.1.1 no\r\n250 ok\r\n354 go\r\n"),
       Piped(kOutEnding, 1, Refused("550 5.1.1 no\r\n", RefusedAt::Recipient)),
       Expect{}.Do(Action::kStartReplyLimit).Unexpected("550 5.1.1 no").Quit().actions, &exchanger},
      {"pipelined sender refused", Piped(kOutMailFromSent), Reply("553 5.1.8 bad sender\r\n503 no\r\n503 no\r\n"),
       Piped(kOutEnding, 0, Refused("553 5.1.8 bad sender\r\n", RefusedAt::Message)),
       Expect{}.Unexpected("553 5.1.8 bad sender").Quit().actions, &exchanger},
      {"PIPELINING before TLS counts no more", Piped(kOutTlsStarting), tls_ready, Tls(kOutEhloSent),
       Expect{}.Do(Action::kMailLog, tls_line).Command(ehlo).Do(Action::kScan).actions, &exchanger},
      {"STARTTLS refused after all", At(kOutStartTlsSent), Reply("454 4.7.0 no TLS today\r\n"), At(kOutMailFromSent),
       Expect{}.Command(mail_from, mail_from_shown).Do(Action::kScan).actions, &exchanger},
      {"plain bytes before TLS", At(kOutTlsStarting), Reply("250-mx1\r\n250 AUTH PLAIN\r\n"), At(kOutTlsStarting), {},
       &exchanger},
      {"TLS up", At(kOutTlsStarting), tls_ready, Tls(kOutEhloSent),
       Expect{}.Do(Action::kMailLog, tls_line).Command(ehlo).Do(Action::kScan).actions, &exchanger},
      {"EHLO inside TLS", Tls(kOutEhloSent), Reply("250-mx1\r\n250 STARTTLS\r\n"), Tls(kOutMailFromSent),
       Expect{}.Command(mail_from, mail_from_shown).Do(Action::kScan).actions, &exchanger},
      {"EHLO refused inside TLS is no bounce", Tls(kOutEhloSent), Reply("554 no\r\n"),
       Tls(kOutEnding, Failed("554 no\r\n")), Expect{}.Unexpected("554 no").Quit().actions, &exchanger},
      {"exchanger handshake fails", At(kOutTlsStarting), bad_certificate, PlainOnly(kOutConnecting),
       Expect{}.Do(Action::kMailLog, kTag + " TLS failed (40500: certificate verify failed) for mx1.dest.test "
                                            "[127.0.0.7], status=trying again in plain")
           .Do(Action::kReconnect).actions, &exchanger},
      {"TLS breaks later", Tls(kOutDataSent), bad_certificate, Tls(kOutDataSent),
       {Action{Action::kSocketFailure, "certificate verify failed", kTlsFailure}}, &exchanger},
      // The smarthost with StartTls: STARTTLS required, then AUTH inside.
      {"smarthost greeting", At(kOutConnecting), Reply("220 smtp\r\n"), At(kOutEhloSent),
       Expect{}.Command(ehlo).Do(Action::kScan).actions, &starttls},
      {"STARTTLS missing", At(kOutEhloSent), Reply("250-smtp hi\r\n250 AUTH PLAIN\r\n"),
       At(kOutEnding, 0, Failed("STARTTLS not offered (250-smtp hi)")), Expect{}.Quit().actions, &starttls},
      {"EHLO refused by the smarthost", At(kOutEhloSent), Reply("502 no\r\n"), At(kOutEnding, 0, Failed("502 no\r\n")),
       Expect{}.Unexpected("502 no").Quit().actions, &starttls},
      {"smarthost handshake verified", At(kOutStartTlsSent), Reply("220 go\r\n"), At(kOutTlsStarting),
       Expect{}.StartTls("smtp.home.test", true).actions, &starttls},
      {"certificate check turned off", At(kOutStartTlsSent), Reply("220 go\r\n"), At(kOutTlsStarting),
       Expect{}.StartTls("smtp.home.test", false).actions, &unverified},
      {"STARTTLS refused by the smarthost", At(kOutStartTlsSent), Reply("454 later\r\n"),
       At(kOutEnding, 0, Failed("454 later\r\n")), Expect{}.Quit().actions, &starttls},
      {"smarthost handshake fails", At(kOutTlsStarting), bad_certificate, At(kOutTlsStarting),
       Expect{}.Do(Action::kClose).Do(Action::kReplyFailure, "40500: certificate verify failed").Do(Action::kScan).actions,
       &starttls},
      {"AUTH PLAIN first", Tls(kOutEhloSent), Reply("250-smtp\r\n250-AUTH LOGIN PLAIN\r\n250 8BITMIME\r\n"),
       Tls(kOutAuthSent), Expect{}.Command("AUTH PLAIN AG1lAHBhNTU=\r\n", "AUTH PLAIN ****\r\n").Do(Action::kScan).actions,
       &starttls},
      {"AUTH LOGIN otherwise", Tls(kOutEhloSent), Reply("250-smtp\r\n250 AUTH=LOGIN\r\n"), Tls(kOutAuthLoginSent),
       Expect{}.Command("AUTH LOGIN\r\n").Do(Action::kScan).actions, &starttls},
      {"LOGIN user", Tls(kOutAuthLoginSent), Reply("334 VXNlcm5hbWU6\r\n"), Tls(kOutAuthUserSent),
       Expect{}.Command("bWU=\r\n", "****\r\n").actions, &starttls},
      {"LOGIN password", Tls(kOutAuthUserSent), Reply("334 UGFzc3dvcmQ6\r\n"), Tls(kOutAuthSent),
       Expect{}.Command("cGE1NQ==\r\n", "****\r\n").actions, &starttls},
      {"logged in", Tls(kOutAuthSent), Reply("235 2.7.0 ok\r\n"), Tls(kOutMailFromSent),
       Expect{}.Command(mail_from, mail_from_shown).Do(Action::kScan).actions, &starttls},
      {"wrong password", Tls(kOutAuthSent), Reply("535 5.7.8 bad credentials\r\n"),
       Tls(kOutEnding, AuthFailed("535 5.7.8 bad credentials")), Expect{}.Quit().actions, &starttls},
      {"login for now", Tls(kOutAuthSent), Reply("454 4.7.0 try later\r\n"),
       Tls(kOutEnding, Failed("454 4.7.0 try later\r\n")), Expect{}.Unexpected("454 4.7.0 try later").Quit().actions,
       &starttls},
      {"no mechanism we speak", Tls(kOutEhloSent), Reply("250-smtp\r\n250 AUTH CRAM-MD5\r\n"),
       Tls(kOutEnding, AuthFailed("no AUTH PLAIN or LOGIN offered")), Expect{}.Quit().actions, &starttls},
      {"no usable password", Tls(kOutEhloSent), Reply("250-smtp\r\n250 AUTH PLAIN\r\n"),
       Tls(kOutEnding, AuthFailed("Dorvane.secret is missing")), Expect{}.Quit().actions, &no_secret},
      {"login never in plain", At(kOutConnecting), Reply("220 smtp\r\n"),
       At(kOutEnding, 0, AuthFailed("SmtpUser needs SmtpSecurity StartTls or Tls")), Expect{}.Quit().actions,
       &plain_user},
      {"QUIT out after a refused login", At(kOutEnding, 0, AuthFailed("535 no")), sent_all, At(kOutEnding),
       Expect{}.Do(Action::kClose).Do(Action::kAuthFailure, "535 no").Do(Action::kScan).actions, &starttls},
      // The smarthost with Tls: the handshake before the greeting.
      {"connect starts TLS", At(kOutConnecting), Event{Event::kConnect, "", 0}, At(kOutTlsStarting),
       Expect{}.Do(Action::kMailLog, kTag + " connect to mx1.dest.test [127.0.0.7]")
           .StartTls("smtp.home.test", true).actions, &tls},
      {"TLS up, greeting awaited", At(kOutTlsStarting), tls_ready, Tls(kOutConnecting),
       Expect{}.Do(Action::kMailLog, tls_line).Do(Action::kStartReplyLimit).actions, &tls},
      {"greeting inside TLS", Tls(kOutConnecting), Reply("220 smtp\r\n"), Tls(kOutEhloSent),
       Expect{}.Command(ehlo).Do(Action::kScan).actions, &tls},
  };
  DialogueFacts quiet = facts;
  quiet.debug = false;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    DialogueStep step = Play(row, facts);
    EXPECT_EQ(Show(step.next), Show(row.next));
    EXPECT_EQ(Show(step.actions), Show(row.actions));
    // With debug off the same step, without its debug-log entries.
    std::vector<DialogueAction> undebugged = row.actions;
    std::erase_if(undebugged, [](const DialogueAction& a) { return a.kind == Action::kDebugLog; });
    EXPECT_EQ(Show(Play(row, quiet).actions), Show(undebugged));
  }
  // A text without a final line end (none or empty) gets one before the
  // end mark, and none is ever doubled.
  for (const auto& [data, wire] : {std::pair<std::string, std::string>{"no end", "no end\r\n.\r\n"},
                                   {"", ".\r\n"},
                                   {"a\r\n\r\n", "a\r\n\r\n.\r\n"}}) {
    message.Data = data;
    const DialogueStep step = StepDialogue(At(kOutDataSent, 2), Reply("354 go\r\n"), facts);
    ASSERT_FALSE(step.actions.empty());
    EXPECT_EQ(step.actions.front().text, wire);
  }
}

}  // namespace
}  // namespace dorvane
