#include "service/inbound_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "config/configuration.h"
#include "relay/connexion.h"
#include "service/inbound_dialogue.h"
#include "service/inbound_text.h"
#include "spool/message.h"
#include "spool/spool_committer.h"
#include "spool/spool_file.h"
#include "tests/support/test_environment.h"

namespace dorvane {
namespace {

using fake::FakePeer;
using namespace std::string_literals;
using Kind = InboundAction::Kind;
using Event = InboundEvent;

std::string Repeat(const std::string& text, int times) {
  std::string all;
  for (int i = 0; i < times; ++i) all += text;
  return all;
}

TEST(InboundRules, ValidAddress) {
  for (const char* good : {"<a@b.c>", "<first.last@sub.example.org>", "<a@b.c.>"})
    EXPECT_TRUE(IsValidAddress(good)) << good;
  for (const char* bad : {"", "<>", "a@b.c", "<a@b.c", "<a@bc>", "<a@b@c.d>", "<<a@b.c>>", "<a@b.c> SIZE=100",
                          "<a.b@c>", "x<a@b.c>"})
    EXPECT_FALSE(IsValidAddress(bad)) << bad;
}

// ---- the dialogue ---------------------------------------------------------

// Where a row starts: the dialogue is played up to there first.
enum class Start { kAccepted, kGreeted, kHelo, kSender, kMail, kData, kQueued };

// One input of a row: received bytes (`times` times over), or another event.
struct Input {
  Input(std::string b, int n = 1) : bytes(std::move(b)), times(n) {}
  Input(const char* b) : bytes(b) {}
  Input(Event e) : event(e) {}
  Event event = Event::kBytes;
  std::string bytes;
  int times = 1;
};

// Plays the dialogue of slot 1 with client.example and gathers what it
// asks for: the replies; the other actions as short texts ("log <line>"
// without the slot tag, "queue", "scan", "close"); the debug entries; the
// text of each message queued; the last time limit. Every kQueue is
// answered with `outcome` at once.
struct Player {
  InboundDialogue dialogue{1, {"client.example", "127.0.0.1", "127.0.0.1"}};
  CMessage message;
  Event outcome = Event::kQueued;
  std::string replies;
  std::vector<std::string> actions, debug, stored;
  int limit = 0;  // seconds; 0: none set

  void Play(const Input& input) {
    for (int i = 0; i < input.times; ++i) Take(dialogue.Step(input.event, input.bytes, message));
  }

  void Take(const std::vector<InboundAction>& list) {
    const std::string tag = " Dorvane/smtplocal[1]: ";
    for (const InboundAction& a : list) {
      if (a.kind == Kind::kSend) replies += a.text;
      if (a.kind == Kind::kDebug) debug.push_back(a.text);
      if (a.kind == Kind::kLimit) limit = static_cast<int>(a.limit.count());
      if (a.kind == Kind::kScan) actions.push_back("scan");
      if (a.kind == Kind::kClose) actions.push_back("close");
      if (a.kind == Kind::kMailLog)
        actions.push_back("log " + (a.text.rfind(tag, 0) == 0 ? a.text.substr(tag.size()) : a.text));
      if (a.kind != Kind::kQueue) continue;
      actions.push_back("queue");
      stored.push_back(message.Data);
      Take(dialogue.Step(outcome, outcome == Event::kQueueFailed ? "disk gone" : "", message));
    }
  }

  void PlayTo(Start start) {
    const char* steps[] = {"HELO a\r\n", "MAIL FROM:<a@b.cc>\r\n", "RCPT TO:<c@d.ee>\r\n", "DATA\r\n",
                           "hi\r\n.\r\n"};
    if (start == Start::kAccepted) return;
    Play(Event::kGreet);
    for (int i = 0; i < static_cast<int>(start) - 1; ++i) Play(Input(steps[i]));
    replies.clear(), actions.clear(), debug.clear(), stored.clear(), limit = 0;
  }
};

// Each row starts a fresh dialogue in `start`, plays its inputs and checks
// the replies, the other actions, the state, the last time limit and the
// texts queued. Throughout: a held line stays within the line bound (so
// message text is never gathered as a line), the text within the text
// bound, and no client byte reaches the debug log as markup.
TEST(InboundDialogueTable, RepliesActionsAndStates) {
  const std::string ok = "250 Message accepted for delivery\r\n";
  const std::string bare = "554 5.6.0 Bare CR or LF not allowed\r\n";
  const std::string syntax = "501 Syntax error in parameters or arguments\r\n";
  const std::string unknown = "500 Unrecognized command.\r\n";
  const std::string too_long = "500 Line too long.\r\n";
  const std::string timeout = "421 Timeout, closing connection\r\n";
  const std::string bye = "221 Dorvane Goodbye\r\n";
  const std::string go = "354 OK End with <CRLF>.<CRLF>\r\n";
  const std::string no_rcpt = "554 No valid recipients\r\n";
  const std::string client = "log client=client.example [127.0.0.1]";
  const std::string left = "log disconnect from client.example [127.0.0.1]";
  const std::string outbox = "log  to=<c@d.ee> status=outbox";
  const std::string unknown_log = "log 500 Unrecognized command";
  const std::string bare_log = "log 554 5.6.0 Bare CR or LF not allowed";
  const std::string big_chunk = "x\r\n" + std::string((1 << 20) - 3, 'x');
  const std::string packet = Repeat(std::string(70, 'y') + "\r\n", 56) + "zz";  // ends mid-line
  using Actions = std::vector<std::string>;
  const Actions queued = {"queue", outbox, "scan"};
  struct Row {
    const char* name;
    Start start;
    std::vector<Input> inputs;
    std::string replies;
    Actions actions;
    int state;
    int limit = 0;
    std::vector<std::string> stored = {};
    Event outcome = Event::kQueued;
  } rows[] = {
      // clang-format off
      {"greeting", Start::kAccepted, {Event::kGreet},
       "220 Server Dorvane 3.0 on 127.0.0.1 Ready (dorvane.example)\r\n",
       {"log connect from client.example [127.0.0.1]"}, kInGreeted, 300},
      {"address over its share", Start::kAccepted, {Event::kTurnAway}, kTooManyReply,
       {"log  Dorvane/smtplocal: 421 Too many connections"}, kInQuit, 30},
      {"EHLO", Start::kGreeted, {"EHLO me\r\n"}, unknown, {unknown_log}, kInGreeted, 300},
      {"HELO without a name", Start::kGreeted, {"HELO\r\n"}, syntax, {}, kInGreeted, 300},
      {"HELO cut over packets", Start::kGreeted, {"HE", "LO me\r", "\n"}, "250 Hello me\r\n", {}, kInHelo, 300},
      {"second HELO", Start::kHelo, {"HELO again\r\n"}, unknown, {unknown_log}, kInHelo, 300},
      {"MAIL without FROM:", Start::kHelo, {"MAIL <a@b.c>\r\n"}, syntax, {}, kInHelo, 300},
      {"null sender", Start::kHelo, {"MAIL FROM:<>\r\n"}, "504 sender is <> sender is not a valid email\r\n",
       {client}, kInHelo, 300},
      {"sender lower-cased, echoed untrimmed", Start::kHelo, {"mail from: <Me@Here.FR>\r\n"},
       "250 sender is  <me@here.fr> sender ok\r\n", {client}, kInMail, 300},
      {"DATA without recipients", Start::kSender, {"DATA\r\n"}, no_rcpt, {}, kInMail, 300},
      {"RCPT without TO:", Start::kMail, {"RCPT <x@y.zz>\r\n"}, syntax, {}, kInMail, 300},
      {"recipient without brackets", Start::kMail, {"RCPT TO:bad@y.zz\r\n"},
       "504 recipient is bad@y.zz recipient is not a valid email\r\n", {}, kInMail, 300},
      {"recipient trimmed, lower-cased", Start::kMail, {"RCPT TO: <You@There.DE> \r\n"},
       "250 recipient is <you@there.de> recipient ok\r\n", {}, kInMail, 300},
      {"255 recipients at most", Start::kMail, {{"RCPT TO:<r@there.de>\r\n", 254}, "RCPT TO:<late@there.de>\r\n"},
       Repeat("250 recipient is <r@there.de> recipient ok\r\n", 254) + "452 Too many recipients\r\n", {},
       kInMail, 300},
      {"DATA", Start::kMail, {"DATA\r\n"}, go, {}, kInData, 600},
      {"text as received; QUIT in it is text", Start::kData, {"Subject: hi\r\n\r\n..dotted\r\n", "QUIT\r\n", ".\r\n"},
       ok, queued, kInQueued, 300, {"Subject: hi\r\n\r\n..dotted\r\nQUIT\r\n"}},
      {"lines and text end cut anywhere", Start::kData, {"line one\r\nline t", "wo\r", "\n.\r", "\nNOOP\r\n"},
       ok + "250 Noop Ok.\r\n", queued, kInQueued, 300, {"line one\r\nline two\r\n"}},
      {"end of text mid-packet, then a second message", Start::kData,
       {"hi\r\n.\r\nMAIL FROM:<evil@x.yy>\r\nRCPT TO:<v@w.zz>\r\nDATA\r\nsmuggled\r\n.\r\n"},
       ok + "250 sender is <evil@x.yy> sender ok\r\n250 recipient is <v@w.zz> recipient ok\r\n" + go + ok,
       {"queue", outbox, "scan", "queue", "log  to=<v@w.zz> status=outbox", "scan"}, kInQueued, 300,
       {"hi\r\n", "smuggled\r\n"}},
      {"LF . LF neither ends the text nor passes", Start::kData,
       {"hi\n.\nMAIL FROM:<evil@x.yy>\nmore\r\n.\r\n", "NOOP\r\n"}, bare + "250 Noop Ok.\r\n", {bare_log}, kInHelo,
       300},
      {"bare CR", Start::kData, {"hi\r.\rthere\r\n.\r\nMAIL FROM:<a@b.cc>\r\n"},
       bare + "250 sender is <a@b.cc> sender ok\r\n", {bare_log, client}, kInMail, 300},
      {"CR at a packet's end, then no LF", Start::kData, {"hi\r", "x\r\n.\r\n"}, bare, {bare_log}, kInHelo, 300},
      {"text over 64 MiB dropped as it arrives", Start::kData,
       {{big_chunk, 65}, "end\r\n", ".\r\n", "MAIL FROM:<me@here.fr>\r\n"},
       "552 Message size exceeds fixed maximum message size\r\n250 sender is <me@here.fr> sender ok\r\n",
       {client}, kInMail, 300},
      {"large text in small packets", Start::kData, {{packet, 2000}, "\r\n.\r\n"}, ok, queued, kInQueued, 300,
       {Repeat(packet, 2000) + "\r\n"}},
      {"spool short of room; held commands run after", Start::kData, {"x\r\n.\r\nDATA\r\n"},
       "452 4.3.1 Insufficient system storage\r\n" + unknown,
       {"queue", "log 452 4.3.1 Insufficient system storage", unknown_log}, kInHelo, 300, {"x\r\n"},
       Event::kNoRoom},
      {"spool write failed", Start::kData, {"x\r\n.\r\n"},
       "451 Requested action aborted: local error in processing\r\n",
       {"queue", "log 451 local error in processing: disk gone"}, kInHelo, 300, {"x\r\n"}, Event::kQueueFailed},
      {"RCPT after the message", Start::kQueued, {"RCPT TO:<z@z.zz>\r\n"}, unknown, {unknown_log}, kInQueued, 300},
      {"next MAIL starts afresh, no client= line", Start::kQueued, {"MAIL FROM:<second@here.fr>\r\n", "DATA\r\n"},
       "250 sender is <second@here.fr> sender ok\r\n" + no_rcpt, {}, kInMail, 300},
      {"RSET drops the message", Start::kMail, {"RSET\r\n", "MAIL FROM:<a@b.cc>\r\n", "DATA\r\n"},
       "250 Reset Ok.\r\n250 sender is <a@b.cc> sender ok\r\n" + no_rcpt, {client}, kInMail, 300},
      {"control bytes in HELO", Start::kGreeted,
       {"HELO a\tb\r\nHELO a\0b\r\nHELO a\x7f\r\nHELO a\nMAIL FROM:<e@x.yy>\r\nHELO ok\r\n"s},
       Repeat(syntax, 4) + "250 Hello ok\r\n", {}, kInHelo, 300},
      {"control bytes in MAIL and RCPT", Start::kHelo,
       {"MAIL FROM:<a@b.cc>\x01\r\nMAIL FROM:<a@b.cc>\r\n"
        "RCPT TO:<v\nrcpt to:x\n@lenient.example>\r\nRCPT TO:<v@evil\0.example>\r\n"s},
       syntax + "250 sender is <a@b.cc> sender ok\r\n" + syntax + syntax, {client}, kInMail, 300},
      {"markup in client text", Start::kGreeted,
       {"HELO <script>x</script>\r\nMAIL FROM:<a@b.cc><b>\r\nMAIL FROM:<a@b.cc>\r\n"
        "RCPT TO:<img src=x onerror=y@a.bc>\r\nDATA\r\n<iframe>\r\n.\r\n"},
       "250 Hello <script>x</script>\r\n504 sender is <a@b.cc><b> sender is not a valid email\r\n"
       "250 sender is <a@b.cc> sender ok\r\n250 recipient is <img src=x onerror=y@a.bc> recipient ok\r\n" + go + ok,
       {client, client, "queue", "log  to=<img src=x onerror=y@a.bc> status=outbox", "scan"}, kInQueued, 300,
       {"<iframe>\r\n"}},
      {"pipelined commands in turn, nothing read after QUIT", Start::kGreeted,
       {"HELO a\r\nMAIL FROM:<a@b.cc>\r\nRCPT TO:<c@d.ee>\r\nNOOP\r\nRSET\r\nQUIT\r\nNOOP\r\n"},
       "250 Hello a\r\n250 sender is <a@b.cc> sender ok\r\n250 recipient is <c@d.ee> recipient ok\r\n"
       "250 Noop Ok.\r\n250 Reset Ok.\r\n" + bye,
       {client, left}, kInQuit, 30},
      {"closed once the 221 is flushed", Start::kGreeted, {"QUIT\r\n", Event::kFlushed}, bye, {left, "close"}, 0, 30},
      {"flushed before QUIT: stays", Start::kMail, {Event::kFlushed}, "", {}, kInMail},
      {"peer gone mid-text", Start::kData, {"half a mess", Event::kPeerGone}, "", {"close"}, 0},
      {"line over 64 KiB refused and forgotten", Start::kGreeted,
       {{std::string(16 * 1024, 'a'), 8}, "\r\n", "HELO " + std::string(kMaxCommandBytes, 'b') + "\r\n",
        "HELO me\r\n"},
       too_long + too_long + "250 Hello me\r\n", {}, kInHelo, 300},
      {"a partial line sets no limit", Start::kGreeted, {"H", "E"}, "", {}, kInGreeted},
      {"text lines set no limit", Start::kData, {"a\r\n", "b\r\n"}, "", {}, kInData},
      {"limit run out", Start::kHelo, {"MAIL", Event::kTimeUp, "NOOP\r\n"}, timeout,
       {"log 421 Timeout, closing connection"}, kInQuit, 30},
      {"last reply never flushed", Start::kGreeted, {"QUIT\r\n", Event::kTimeUp}, bye, {left, "close"}, 0, 30},
      // clang-format on
  };
  for (const Row& row : rows) {
    Player p;
    p.PlayTo(row.start);
    p.outcome = row.outcome;
    for (const Input& input : row.inputs) {
      p.Play(input);
      EXPECT_LE(p.dialogue.held(), kMaxCommandBytes) << row.name;
      EXPECT_LE(p.message.Data.size(), kMaxMessageBytes + 3) << row.name;
    }
    EXPECT_EQ(row.replies, p.replies) << row.name;
    EXPECT_EQ(row.actions, p.actions) << row.name;
    EXPECT_EQ(row.state, p.dialogue.status()) << row.name;
    EXPECT_EQ(row.limit, p.limit) << row.name;
    EXPECT_EQ(row.stored, p.stored) << row.name;
    for (const std::string& entry : p.debug)
      for (const char* tag : {"<script", "<b>", "<img", "<iframe"})
        EXPECT_EQ(std::string::npos, entry.find(tag)) << row.name << ": " << entry;
  }
}

// ---- the session on its environment ---------------------------------------

// Hands messages on to the test's inline committer, or keeps them while
// `hold` is set until Finish() hands them on: messages still being written.
class HeldCommitter : public SpoolCommitter {
 public:
  explicit HeldCommitter(SpoolCommitter& inner) : inner_(inner) {}
  void Commit(std::vector<SpoolFile> files, Done done) override {
    if (!hold) return inner_.Commit(std::move(files), std::move(done));
    held_.emplace_back(std::move(files), std::move(done));
  }
  void Finish() {
    for (auto& [files, done] : std::exchange(held_, {})) inner_.Commit(std::move(files), std::move(done));
  }
  bool hold = false;

 private:
  SpoolCommitter& inner_;
  std::vector<std::pair<std::vector<SpoolFile>, Done>> held_;
};

class InboundSessionTest : public ::testing::Test {
 protected:
  InboundSessionTest() {
    session_.emplace(t_.env, committer_, [this] { ++scans_; });
    session_->OnQueued([this](const std::string& name) { queued_.push_back(name); });
    t_.form.smtp.Load(0);
    t_.settings.running.Relay = false;
    std::filesystem::create_directories(t_.program.Path(kOutBox));
  }

  // A client connects from `peer`; returns the element it was accepted on.
  int Connect(FakePeer peer = {}) {
    intptr_t request = ++next_request_;
    t_.form.smtp.QueuePeer(request, peer);
    t_.form.smtp.FireConnectionRequest(request);
    for (int i = 1; i < kFirstSpareElement + kSpareElements; ++i)
      if (t_.form.smtp.AcceptedRequest(i) == request) return i;
    return 0;
  }

  // Sends `bytes` from the client of element n; the replies they caused.
  std::string Say(int n, const std::string& bytes) {
    size_t before = t_.form.smtp.SentText(n).size();
    t_.form.smtp.Receive(n, bytes);
    return t_.form.smtp.SentText(n).substr(before);
  }

  // Client n, past HELO, sends a whole message; the replies.
  std::string Mail(int n) {
    return Say(n, "MAIL FROM:<me@here.fr>\r\nRCPT TO:<you@there.de>\r\nDATA\r\nSubject: hi\r\n\r\nbody\r\n.\r\n");
  }

  // A client at this computer's own address (always served), one address
  // per kMaxSlotsPerAddress clients.
  static FakePeer OwnAddress(int i) {
    std::string ip = "10.0.0." + std::to_string(1 + i / kMaxSlotsPerAddress);
    return {"", ip, ip};
  }

  int Status(int n) { return t_.pools.In(n).Status(); }
  bool Logged(const std::string& text) {
    return t_.program.Read("maillog.txt").find(text) != std::string::npos;
  }

  std::vector<std::string> OutBox() {
    std::vector<std::string> names = t_.files.List(t_.program.Path(kOutBox));
    std::sort(names.begin(), names.end());
    return names;
  }

  TestEnvironment t_;
  int scans_ = 0;
  std::vector<std::string> queued_;  // the names the queue was told of
  HeldCommitter committer_{t_.committer};
  std::optional<InboundSession> session_;
  intptr_t next_request_ = 0;
};

TEST_F(InboundSessionTest, RelayRuleDecidesWhoIsGreeted) {
  struct {
    FakePeer peer;
    bool relay;
    bool served;
  } cases[] = {
      {{"client.example", "127.0.0.1", "127.0.0.1"}, false, true},
      {{"", "127.0.0.2", "127.0.0.1"}, true, false},       // another loopback address
      {{"", "192.168.1.9", "192.168.1.2"}, false, false},  // relay off
      {{"", "192.168.1.9", "192.168.1.2"}, true, true},
      {{"", "192.169.1.9", "192.168.1.2"}, true, false},
      {{"", "10.0.0.5", "10.0.0.5"}, false, true},  // the computer's own address
  };
  for (const auto& c : cases) {
    t_.settings.running.Relay = c.relay;
    const std::string& ip = c.peer.remote_ip;
    size_t logged = t_.program.Read("maillog.txt").size();
    ASSERT_EQ(1, Connect(c.peer)) << ip;
    std::string log = t_.program.Read("maillog.txt").substr(logged);
    EXPECT_EQ(c.served ? kInGreeted : 0, Status(1)) << ip;
    EXPECT_EQ(c.served, t_.form.smtp.Exists(1)) << ip;
    EXPECT_EQ(c.served, !t_.form.smtp.Sent(1).empty()) << ip;
    std::string line = c.served ? "]: connect from " + c.peer.remote_host + " [" + ip + "]\r\n"
                                : " Dorvane/smtplocal[1] REJECT Host " + ip + " relay: deny\r\n";
    EXPECT_NE(std::string::npos, log.find(line)) << log;
    EXPECT_EQ(c.peer.remote_host.empty() ? ip : c.peer.remote_host, t_.pools.In(1).SrvClient);
    if (c.served) t_.form.smtp.FireClose(1);
  }
}

TEST_F(InboundSessionTest, ClientsFindingNoSlotAreToldTooMany) {
  const std::string too_many = "421 Too many connections, try again later\r\n";
  int quitting = Connect();
  for (int i = 1; i < kMaxSlotsPerAddress; ++i) ASSERT_EQ(kInGreeted, Status(Connect()));
  // One whose QUIT is answered holds nothing: it closes once its 221 is out,
  // which the client may see (and come back) before that.
  Say(quitting, "QUIT\r\n");
  ASSERT_EQ(kInQuit, Status(quitting));
  ASSERT_EQ(kInGreeted, Status(Connect()));
  t_.form.smtp.FireSendComplete(quitting);
  int turned = Connect();  // the 21st client of one address
  EXPECT_EQ(too_many, t_.form.smtp.LastSent(turned));
  EXPECT_TRUE(Logged(" Dorvane/smtplocal: 421 Too many connections\r\n"));
  t_.form.smtp.FireSendComplete(turned);
  EXPECT_EQ(0, Status(turned));
  EXPECT_FALSE(t_.form.smtp.Exists(turned));

  for (int i = kMaxSlotsPerAddress + 1; i <= kLastSlot; ++i)
    ASSERT_EQ(kInGreeted, Status(Connect(OwnAddress(i))));
  int spare = Connect(OwnAddress(kLastSlot + 1));  // the 100th: no slot left
  EXPECT_EQ(kFirstSpareElement, spare);
  EXPECT_EQ(too_many, t_.form.smtp.LastSent(spare));
  t_.form.smtp.FireSendComplete(spare);
  EXPECT_FALSE(t_.form.smtp.Exists(spare));

  spare = Connect({"", "192.168.1.9", "10.0.0.1"});  // refused by the relay rule: not a word
  EXPECT_EQ(0u, t_.form.smtp.Sent(spare).size());
  EXPECT_FALSE(t_.form.smtp.Exists(spare));

  spare = Connect();  // its 421 never leaves: dropped after the grace
  t_.clock.Advance(kCloseGrace.count());
  t_.loop.TickTimers();
  EXPECT_FALSE(t_.form.smtp.Exists(spare));

  t_.form.smtp.FireError(42, 10054, "Connection is reset by remote side");  // leaves without QUIT
  EXPECT_FALSE(t_.form.smtp.Exists(42));
  EXPECT_EQ(42, Connect(OwnAddress(200)));
  EXPECT_EQ(kInGreeted, Status(42));
}

TEST_F(InboundSessionTest, QueuedMessagesAreSpooledThenScanned) {
  const std::string accepted = "250 Message accepted for delivery\r\n";
  int n = Connect();
  Say(n, "HELO me\r\nMAIL FROM:<me@here.fr>\r\nRCPT TO:<you@there.de>\r\nDATA\r\n");
  EXPECT_EQ("", Say(n, "Subject: hi\r\n\r\nbody\r\n.\r\n"));  // not before the write's outcome
  EXPECT_EQ(0, scans_);  // posted, not run inside the handler
  EXPECT_EQ(2, t_.loop.RunPosted());  // the outcome, then the scan it asks for
  EXPECT_EQ(accepted, t_.form.smtp.LastSent(n));
  EXPECT_EQ(1, scans_);
  ASSERT_EQ(1u, OutBox().size());
  EXPECT_EQ(OutBox(), queued_);  // the scan takes it without listing OutBox
  CMessage m = t_.ReadMessage(kOutBox, OutBox()[0]);
  EXPECT_EQ(OutBox()[0], m.ID);
  EXPECT_EQ("<me@here.fr>", m.From);
  EXPECT_EQ((std::vector<std::string>{"", "<you@there.de>"}), m.RcptToList());
  EXPECT_EQ("Subject: hi\r\n\r\nbody\r\n", m.Data);
  EXPECT_EQ(SpoolWarningEnglish() + SpoolWarningFrench() + "0", m.TxtEng + m.TxtFr + std::to_string(m.Essai));
  EXPECT_LT(t_.pools.In(n).Message().Data.capacity(), 64u);  // on disk now, not in memory
  EXPECT_TRUE(Logged(" Dorvane/smtplocal[1]:  to=<you@there.de> status=outbox\r\n"));
  std::filesystem::remove(SpoolPath(kOutBox, m.ID));

  // Two domains need two files and the margin (10 MB): one byte short is 452.
  const std::string text(100, 'x');
  const std::string two = "MAIL FROM:<me@here.fr>\r\nRCPT TO:<a@one.fr>\r\nRCPT TO:<b@two.fr>\r\nDATA\r\n";
  Say(n, two);
  t_.files.free_bytes = 10'000'000 + 2 * (text.size() + 2) - 1;
  EXPECT_EQ("452 4.3.1 Insufficient system storage\r\n", Say(n, text + "\r\n.\r\n"));
  EXPECT_TRUE(OutBox().empty());
  ++*t_.files.free_bytes;
  Say(n, two);
  Say(n, text + "\r\n.\r\n");
  t_.loop.RunPosted();
  EXPECT_EQ(accepted, t_.form.smtp.LastSent(n));
  std::vector<std::string> suffixes;
  for (const std::string& name : OutBox()) suffixes.push_back(name.substr(name.size() - 2));
  std::sort(suffixes.begin(), suffixes.end());
  EXPECT_EQ((std::vector<std::string>{"-0", "-1"}), suffixes);
  queued_.erase(queued_.begin());
  std::sort(queued_.begin(), queued_.end());
  EXPECT_EQ(OutBox(), queued_);

  // A spool that cannot be written or flushed: 451, nothing left behind
  // (no staging file either), nothing scanned.
  t_.ResetSpoolFolders();
  const struct {
    const char* operation;
    int error;
    const char* logged;
  } failures[] = {
      {"WriteDurable", ENOSPC, "Cannot write"},
      {"Rename", EIO, "Cannot rename into"},
      {"SyncFolder", EIO, "Cannot flush folder"},
  };
  for (const auto& f : failures) {
    t_.files.Fail(f.operation, kOutBox, f.error);
    Say(n, "MAIL FROM:<me@here.fr>\r\nRCPT TO:<you@there.de>\r\nDATA\r\n");
    EXPECT_EQ("", Say(n, "x\r\n.\r\n")) << f.operation;
    EXPECT_EQ(1, t_.loop.RunPosted()) << f.operation;  // the outcome alone: no scan
    EXPECT_EQ("451 Requested action aborted: local error in processing\r\n", t_.form.smtp.LastSent(n))
        << f.operation;
    EXPECT_EQ(kInHelo, Status(n)) << f.operation;
    EXPECT_EQ(2u, queued_.size()) << f.operation;  // a failed write names nothing
    EXPECT_EQ(std::vector<std::string>{}, t_.FolderFiles(kOutBox)) << f.operation;
    EXPECT_TRUE(Logged(std::string("451 local error in processing: ") + f.logged))
        << f.operation << ": " << t_.program.Read("maillog.txt");
    t_.files.Clear();
  }
}

// While a message is written its name is taken, even though no file has it
// yet: a second message drawing the same name would replace the first.
TEST_F(InboundSessionTest, TwoMessagesBeingWrittenNeverShareAName) {
  committer_.hold = true;
  int a = Connect();
  int b = Connect();
  Say(a, "HELO a\r\n");
  Say(b, "HELO b\r\n");
  Mail(a);
  t_.clock.random = 0;  // b draws the name given to a's message first
  Mail(b);
  committer_.Finish();
  t_.loop.RunPosted();
  EXPECT_EQ((std::vector<std::string>{"12", "34"}), OutBox());
  EXPECT_EQ("250 Message accepted for delivery\r\n", t_.form.smtp.LastSent(a));
  EXPECT_EQ("250 Message accepted for delivery\r\n", t_.form.smtp.LastSent(b));
}

// A complete message is kept whatever becomes of its client meanwhile. A
// client that closes its side still gets the outcome before it is closed;
// the outcome never reaches a failed connection, a client already told
// 421, a later client of the slot, or a session that has ended.
TEST_F(InboundSessionTest, MessageOutlivesTheClientThatSentIt) {
  committer_.hold = true;
  int n = Connect();
  Say(n, "HELO a\r\n");
  Mail(n);
  t_.form.smtp.FireClose(n);
  EXPECT_EQ(kInData, Status(n));  // held until the outcome
  committer_.Finish();
  t_.loop.RunPosted();
  EXPECT_EQ("250 Message accepted for delivery\r\n", t_.form.smtp.LastSent(n));
  EXPECT_EQ(kInQueued, Status(n));  // closed once the reply is out, not before
  t_.form.smtp.FireSendComplete(n);
  EXPECT_EQ(0, Status(n));
  EXPECT_FALSE(t_.form.smtp.Exists(n));
  EXPECT_EQ(1u, OutBox().size());
  EXPECT_EQ(1, scans_);

  // A connection that failed is released at once: nothing can reach it.
  ASSERT_EQ(n, Connect());
  Say(n, "HELO a\r\n");
  Mail(n);
  const size_t replies = t_.form.smtp.Sent(n).size();
  t_.form.smtp.FireError(n, 10054, "Connection is reset by remote side");
  EXPECT_EQ(0, Status(n));
  committer_.Finish();
  t_.loop.RunPosted();
  EXPECT_EQ(replies, t_.form.smtp.Sent(n).size());
  EXPECT_EQ(2u, OutBox().size());
  EXPECT_EQ(2, scans_);

  ASSERT_EQ(n, Connect());
  Say(n, "HELO b\r\n");
  Mail(n);
  t_.clock.Advance(std::chrono::seconds(kIdleTimeout).count());
  t_.loop.TickTimers();
  EXPECT_EQ("421 Timeout, closing connection\r\n", t_.form.smtp.LastSent(n));
  t_.form.smtp.FireSendComplete(n);  // the 421 is out: closed as ever
  EXPECT_EQ(0, Status(n));
  ASSERT_EQ(n, Connect());  // a new client in the same slot
  const std::string greeted = t_.form.smtp.SentText(n);
  committer_.Finish();
  t_.loop.RunPosted();
  EXPECT_EQ(greeted, t_.form.smtp.SentText(n));
  EXPECT_EQ(kInGreeted, Status(n));
  EXPECT_EQ(3u, OutBox().size());
  EXPECT_EQ(3, scans_);  // delivered all the same

  Say(n, "HELO c\r\n");
  Mail(n);
  session_.reset();
  committer_.Finish();
  EXPECT_EQ(1, t_.loop.RunPosted());  // the outcome, finding nobody
  EXPECT_EQ(4u, OutBox().size());
  EXPECT_EQ(3, scans_);
}

TEST_F(InboundSessionTest, TimeLimitsFollowTheSessionClock) {
  const int idle = static_cast<int>(std::chrono::seconds(kIdleTimeout).count());
  int n = Connect();
  t_.clock.Advance(idle - 1);
  t_.loop.TickTimers();
  Say(n, "NOOP\r\n");  // activity restarts the count
  t_.clock.Advance(2);
  t_.loop.TickTimers();
  EXPECT_EQ(kInGreeted, Status(n));
  t_.clock.Advance(idle);
  t_.loop.TickTimers();
  EXPECT_EQ("421 Timeout, closing connection\r\n", t_.form.smtp.LastSent(n));
  EXPECT_EQ(kInQuit, Status(n));
  t_.form.smtp.FireSendComplete(n);
  EXPECT_EQ(0, Status(n));
  EXPECT_FALSE(t_.form.smtp.Exists(n));
  EXPECT_EQ(std::make_pair("IN"s, n), t_.form.shell.refreshes.back());

  // The slot and its element are used again; a client that never reads its
  // last reply is closed after the grace.
  ASSERT_EQ(n, Connect());
  EXPECT_EQ(2, t_.form.smtp.LoadCount(n));
  Say(n, "QUIT\r\n");
  t_.clock.Advance(kCloseGrace.count());
  t_.loop.TickTimers();
  EXPECT_EQ(0, Status(n));
  EXPECT_FALSE(t_.form.smtp.Exists(n));
}

}  // namespace
}  // namespace dorvane
