// The outbound dialogue as a table: a state, an event and the bytes that
// arrive, then the state and the actions the dialogue asks for. Replies go
// through the reply assembly first, as the adapter feeds them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "delivery/client_dialogue.h"
#include "delivery/server_reply.h"
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
};

DialogueState At(int32_t status, uint8_t rcpt = 0, Ending ending = {}) { return DialogueState{status, rcpt, ending}; }
Event Reply(std::string bytes) { return Event{Event::kReply, std::move(bytes), 0}; }
Ending Refused(std::string reply, RefusedAt where) { return Ending{Ending::kRefused, std::move(reply), where}; }
Ending Failed(std::string reply) { return Ending{Ending::kFailed, std::move(reply), RefusedAt::Message}; }
const Ending kDelivered{Ending::kDelivered, "", RefusedAt::Message};

// A state and a list of actions as text, so that a failing row shows them.
std::string Where(RefusedAt where) { return where == RefusedAt::Recipient ? "recipient" : "message"; }
std::string Show(const DialogueState& state) {
  return std::to_string(state.status) + " rcpt " + std::to_string(state.rcpt) + " ending " +
         std::to_string(state.ending.kind) + " " + Where(state.ending.where) + " [" + state.ending.reply + "]";
}
std::vector<std::string> Show(const Actions& actions) {
  std::vector<std::string> shown;
  for (const Action& a : actions)
    shown.push_back(std::to_string(a.kind) + " " + std::to_string(a.number) + " " + Where(a.where) + " [" + a.text + "]");
  return shown;
}

// Runs one row: the bytes of a reply event go through a ReplyBuffer and
// each complete reply is one step while the session is live.
DialogueStep Play(const Row& row, const DialogueFacts& facts) {
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
      // Stored data ends with CR LF, so an empty line precedes the end mark.
      {"body", At(kOutDataSent, 2), Reply("354 go\r\n"), At(kOutBodySending, 2),
       Expect{}.Do(Action::kSend, "Subject: hello\r\n\r\nbody line\r\n\r\n.\r\n").Do(Action::kStartReplyLimit)
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
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    DialogueStep step = Play(row, facts);
    EXPECT_EQ(Show(step.next), Show(row.next));
    EXPECT_EQ(Show(step.actions), Show(row.actions));
  }
}

}  // namespace
}  // namespace dorvane
