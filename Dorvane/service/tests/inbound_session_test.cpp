#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "relay/connexion.h"
#include "service/inbound_session.h"
#include "service/inbound_text.h"
#include "tests/support/fake_form.h"
#include "spool/message.h"
#include "spool/spool_file.h"
#include "spool/tests/temp_home.h"

namespace dorvane {
namespace {

using fake::FakePeer;
using Clock = InboundSession::Clock;
using namespace std::string_literals;

class InboundTest : public ::testing::Test {
 protected:
  InboundTest() : session_([this] { return now_; }, [this] { return free_; }) {
    form_->smtp.SetEvents(&session_);
    form_->smtp.Load(0);
    Config().Relay = false;
  }

  // A client connects from `peer`; returns the element it was accepted on.
  int Connect(FakePeer peer = {}) {
    intptr_t request = ++next_request_;
    form_->smtp.QueuePeer(request, peer);
    form_->smtp.FireConnectionRequest(request);
    for (int i = 1; i < kFirstSpareElement + kSpareElements; ++i)
      if (form_->smtp.AcceptedRequest(i) == request) return i;
    return 0;
  }

  // Sends `bytes` from the client of element n; the replies they caused,
  // joined ("" when none).
  std::string Say(int n, const std::string& bytes) {
    size_t before = form_->smtp.Sent(n).size();
    form_->smtp.Receive(n, bytes);
    const auto& sent = form_->smtp.Sent(n);
    std::string replies;
    for (size_t i = before; i < sent.size(); ++i) replies += sent[i];
    return replies;
  }

  // A client whose address is also this computer's own (always served),
  // one address per group of `per_address` clients.
  static FakePeer OwnAddress(int i, int per_address = kMaxSlotsPerAddress) {
    std::string ip = "10.0.0." + std::to_string(1 + i / per_address);
    return {"", ip, ip};
  }

  int Status(int n) { return CnxIn(n).Status(); }

  // An accepted client past HELO and MAIL and with one recipient.
  int ReadyForData(const std::string& rcpt = "<you@there.de>") {
    int n = Connect();
    Say(n, "HELO me\r\n");
    Say(n, "MAIL FROM:<me@here.fr>\r\n");
    Say(n, "RCPT TO:" + rcpt + "\r\n");
    return n;
  }

  std::string MailLog() {
    std::ifstream in(home_.Path("maillog.txt"), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }

  CMessage ReadOutBox(size_t i = 0) {
    CMessage m;
    m.MOpen(SpoolPath(kOutBox, home_.Files("OutBox").at(i)));
    return m;
  }

  // The texts of every message in OutBox, sorted; OutBox is emptied.
  std::vector<std::string> TakeOutBox() {
    std::vector<std::string> texts;
    for (size_t i = 0; i < home_.Files("OutBox").size(); ++i) texts.push_back(ReadOutBox(i).Data);
    for (const auto& name : home_.Files("OutBox")) std::filesystem::remove(home_.Path("OutBox") / name);
    std::sort(texts.begin(), texts.end());
    return texts;
  }

  static size_t Count(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
    return count;
  }

  testing_support::TempHome home_;
  fake::ScopedFakeForm form_;
  Clock::time_point now_ = Clock::now();
  std::optional<uint64_t> free_;  // free spool space; unknown by default
  InboundSession session_;
  intptr_t next_request_ = 0;
};

TEST(InboundRules, RelayRule) {
  struct {
    const char* remote;
    const char* local;
    bool relay;
    bool allowed;
  } cases[] = {
      {"127.0.0.1", "127.0.0.1", false, true},
      {"10.1.2.3", "10.1.2.3", false, true},      // the computer's own address
      {"192.168.1.7", "10.1.2.3", false, false},  // relay off
      {"192.168.1.7", "10.1.2.3", true, true},    // relay on
      {"192.169.1.7", "10.1.2.3", true, false},
      {"127.0.0.2", "127.0.0.1", true, false},    // another loopback address
      {"", "", true, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.allowed, RelayAllowed(c.remote, c.local, c.relay)) << c.remote << " relay " << c.relay;
}

TEST(InboundRules, ValidAddress) {
  for (const char* good : {"<a@b.c>", "<first.last@sub.example.org>", "<a@b.c.>"})
    EXPECT_TRUE(IsValidAddress(good)) << good;
  for (const char* bad : {"", "<>", "a@b.c", "<a@b.c", "<a@bc>", "<a@b@c.d>", "<<a@b.c>>",
                          "<a@b.c> SIZE=100", "<a.b@c>", "x<a@b.c>"})
    EXPECT_FALSE(IsValidAddress(bad)) << bad;
}

TEST_F(InboundTest, GreetingAndConnectLog) {
  int n = Connect({"client.example", "127.0.0.1", "127.0.0.1"});
  ASSERT_EQ(1, n);
  EXPECT_EQ("220 Server Dorvane 3.0 on 127.0.0.1 Ready (dorvane.example)\r\n", form_->smtp.LastSent(n));
  EXPECT_EQ(kInGreeted, Status(n));
  EXPECT_EQ("client.example", CnxIn(n).SrvClient);
  EXPECT_NE(std::string::npos,
            MailLog().find(" Dorvane/smtplocal[1]: connect from client.example [127.0.0.1]\r\n"));
}

TEST_F(InboundTest, DialogueRepliesAndStates) {
  int n = Connect();
  struct Step {
    const char* send;
    const char* reply;
    int state;
  } steps[] = {
      {"EHLO me\r\n", "500 Unrecognized command.\r\n", kInGreeted},
      {"MAIL FROM:<a@b.c>\r\n", "500 Unrecognized command.\r\n", kInGreeted},
      {"HELO\r\n", "501 Syntax error in parameters or arguments\r\n", kInGreeted},
      {"helo client.example\r\n", "250 Hello client.example\r\n", kInHelo},
      {"HELO again\r\n", "500 Unrecognized command.\r\n", kInHelo},
      {"RCPT TO:<x@y.zz>\r\n", "500 Unrecognized command.\r\n", kInHelo},
      {"MAIL <a@b.c>\r\n", "501 Syntax error in parameters or arguments\r\n", kInHelo},
      {"MAIL FROM:<>\r\n", "504 sender is <> sender is not a valid email\r\n", kInHelo},
      {"mail from: <Me@Here.FR>\r\n", "250 sender is  <me@here.fr> sender ok\r\n", kInMail},
      {"DATA\r\n", "554 No valid recipients\r\n", kInMail},
      {"RCPT <x@y.zz>\r\n", "501 Syntax error in parameters or arguments\r\n", kInMail},
      {"RCPT TO:bad@y.zz\r\n", "504 recipient is bad@y.zz recipient is not a valid email\r\n", kInMail},
      {"RCPT TO: <You@There.DE> \r\n", "250 recipient is <you@there.de> recipient ok\r\n", kInMail},
      {"NOOP\r\n", "250 Noop Ok.\r\n", kInMail},
      {"DATA\r\n", "354 OK End with <CRLF>.<CRLF>\r\n", kInData},
      {"Subject: hi\r\n\r\n..dotted\r\n", "", kInData},
      {"QUIT\r\n", "", kInData},  // message text, not a command
      {".\r\n", "250 Message accepted for delivery\r\n", kInQueued},
      {"RCPT TO:<z@z.zz>\r\n", "500 Unrecognized command.\r\n", kInQueued},
      {"MAIL FROM:<second@here.fr>\r\n", "250 sender is <second@here.fr> sender ok\r\n", kInMail},
      {"RSET\r\n", "250 Reset Ok.\r\n", kInHelo},
      {"QUIT\r\n", "221 Dorvane Goodbye\r\n", kInQuit},
  };
  for (const Step& s : steps) {
    EXPECT_EQ(s.reply, Say(n, s.send)) << s.send;
    EXPECT_EQ(s.state, Status(n)) << s.send;
  }
  EXPECT_EQ(0u, CnxIn(n).Message().MRcptToCount());  // RSET cleared the second message

  CMessage m = ReadOutBox();
  EXPECT_EQ(home_.Files("OutBox").at(0), m.ID);
  EXPECT_EQ("<me@here.fr>", m.From);
  EXPECT_EQ((std::vector<std::string>{"", "<you@there.de>"}), m.RcptToList());
  EXPECT_EQ("Subject: hi\r\n\r\n..dotted\r\nQUIT\r\n", m.Data);
  EXPECT_EQ(SpoolWarningEnglish(), m.TxtEng);
  EXPECT_EQ(SpoolWarningFrench(), m.TxtFr);
  EXPECT_EQ(0, m.Essai);
  EXPECT_FALSE(m.ForSender);
  std::string log = MailLog();
  EXPECT_NE(std::string::npos, log.find(" Dorvane/smtplocal[1]: client= [127.0.0.1]\r\n"));
  EXPECT_NE(std::string::npos, log.find(" Dorvane/smtplocal[1]:  to=<you@there.de> status=outbox\r\n"));
  EXPECT_NE(std::string::npos, log.find(" Dorvane/smtplocal[1]: 500 Unrecognized command\r\n"));
  EXPECT_NE(std::string::npos, log.find(" Dorvane/smtplocal[1]: disconnect from  [127.0.0.1]\r\n"));

  // Closed only once the 221 has been sent.
  EXPECT_TRUE(form_->smtp.Exists(n));
  form_->smtp.FireSendComplete(n);
  EXPECT_FALSE(form_->smtp.Exists(n));
  EXPECT_EQ(0, Status(n));
}

TEST_F(InboundTest, PacketsAreAssembledUpToTheirLineEnd) {
  int n = Connect();
  EXPECT_EQ("", Say(n, "HE"));
  EXPECT_EQ("", Say(n, "LO me\r"));
  EXPECT_EQ("250 Hello me\r\n", Say(n, "\n"));
  Say(n, "MAIL FROM:<me@here.fr>\r\n");
  Say(n, "RCPT TO:<you@there.de>\r\n");
  Say(n, "DATA\r\n");
  EXPECT_EQ("", Say(n, "line one\r\nline t"));
  EXPECT_EQ("", Say(n, "wo\r\n"));
  EXPECT_EQ("", Say(n, "."));
  EXPECT_EQ("250 Message accepted for delivery\r\n", Say(n, "\r\n"));
  EXPECT_EQ("line one\r\nline two\r\n", ReadOutBox().Data);
}

// What a client may send: each row starts on a freshly greeted connection
// and plays its packets, each after `wait` seconds of the session's clock
// (the time-out sweep runs before each packet). Every message stored must
// be one the mail log shows.
TEST_F(InboundTest, HostileInputs) {
  const std::string ready = "HELO a\r\nMAIL FROM:<a@b.cc>\r\nRCPT TO:<c@d.ee>\r\nDATA\r\n";
  const std::string ready_replies =
      "250 Hello a\r\n250 sender is <a@b.cc> sender ok\r\n250 recipient is <c@d.ee> recipient ok\r\n"
      "354 OK End with <CRLF>.<CRLF>\r\n";
  const std::string accepted = "250 Message accepted for delivery\r\n";
  const std::string bare = "554 5.6.0 Bare CR or LF not allowed\r\n";
  const std::string syntax = "501 Syntax error in parameters or arguments\r\n";
  const std::string timeout = "421 Timeout, closing connection\r\n";
  struct Packet {
    int wait;
    std::string bytes;
  };
  struct Row {
    const char* name;
    std::vector<Packet> packets;
    std::string replies;
    std::vector<std::string> stored;
  } rows[] = {
      {"end of text mid-packet, then a second message",
       {{0, ready + "hi\r\n.\r\nMAIL FROM:<evil@x.yy>\r\nRCPT TO:<v@w.zz>\r\nDATA\r\nsmuggled\r\n.\r\n"}},
       ready_replies + accepted + "250 sender is <evil@x.yy> sender ok\r\n" +
           "250 recipient is <v@w.zz> recipient ok\r\n354 OK End with <CRLF>.<CRLF>\r\n" + accepted,
       {"hi\r\n", "smuggled\r\n"}},
      {"LF . LF does not end the text and spoils it",
       {{0, ready + "hi\n.\nMAIL FROM:<evil@x.yy>\nmore\r\n.\r\n"}, {0, "NOOP\r\n"}},
       ready_replies + bare + "250 Noop Ok.\r\n",
       {}},
      {"CR LF . LF", {{0, ready + "hi\r\n.\nRSET\r\n.\r\n"}}, ready_replies + bare, {}},
      {"bare CR", {{0, ready + "hi\r.\rthere\r\n.\r\nMAIL FROM:<a@b.cc>\r\n"}},
       ready_replies + bare + "250 sender is <a@b.cc> sender ok\r\n", {}},
      {"CR LF . CR LF cut over three packets",
       {{0, ready + "hi\r"}, {0, "\n.\r"}, {0, "\nNOOP\r\n"}},
       ready_replies + accepted + "250 Noop Ok.\r\n",
       {"hi\r\n"}},
      {"CR at a packet's end, then no LF", {{0, ready + "hi\r"}, {0, "x\r\n.\r\n"}},
       ready_replies + bare, {}},
      {"control bytes in HELO",
       {{0, "HELO a\tb\r\nHELO a\0b\r\nHELO a\x7f\r\nHELO a\nMAIL FROM:<e@x.yy>\r\nHELO ok\r\n"s}},
       syntax + syntax + syntax + syntax + "250 Hello ok\r\n",
       {}},
      {"control bytes in MAIL and RCPT",
       {{0, "HELO a\r\nMAIL FROM:<a@b.cc>\x01\r\nMAIL FROM:<a@b.cc>\r\n"
            "RCPT TO:<v\nrcpt to:x\n@lenient.example>\r\nRCPT TO:<v@evil\0.example>\r\n"s}},
       "250 Hello a\r\n" + syntax + "250 sender is <a@b.cc> sender ok\r\n" + syntax + syntax,
       {}},
      {"pipelined commands answered in turn, nothing read after QUIT",
       {{0, "HELO a\r\nMAIL FROM:<a@b.cc>\r\nRCPT TO:<c@d.ee>\r\nNOOP\r\nRSET\r\nQUIT\r\nNOOP\r\n"}},
       "250 Hello a\r\n250 sender is <a@b.cc> sender ok\r\n250 recipient is <c@d.ee> recipient ok\r\n"
       "250 Noop Ok.\r\n250 Reset Ok.\r\n221 Dorvane Goodbye\r\n",
       {}},
      {"one byte every 30 s: timed out 5 min after the line began",
       {{30, "H"}, {30, "E"}, {30, "L"}, {30, "O"}, {30, " "}, {30, "a"}, {30, "b"}, {30, "c"},
        {30, "d"}, {30, "e"}, {30, "\r\n"}},
       timeout,
       {}},
      {"a line a minute of text: timed out 10 min after the 354",
       {{0, ready}, {60, "a\r\n"}, {60, "b\r\n"}, {60, "c\r\n"}, {60, "d\r\n"}, {60, "e\r\n"},
        {60, "f\r\n"}, {60, "g\r\n"}, {60, "h\r\n"}, {60, "i\r\n"}, {60, "j\r\n"}, {0, ".\r\n"}},
       ready_replies + timeout,
       {}},
  };
  for (const Row& row : rows) {
    int n = Connect();
    size_t log_before = MailLog().size();
    std::string replies;
    for (const Packet& p : row.packets) {
      now_ += std::chrono::seconds(p.wait);
      size_t before = form_->smtp.Sent(n).size();
      session_.SweepIdle();
      for (size_t i = before; i < form_->smtp.Sent(n).size(); ++i) replies += form_->smtp.Sent(n)[i];
      replies += Say(n, p.bytes);
    }
    EXPECT_EQ(row.replies, replies) << row.name;
    std::vector<std::string> stored = TakeOutBox();
    EXPECT_EQ(row.stored, stored) << row.name;
    EXPECT_EQ(stored.size(), Count(MailLog().substr(log_before), "status=outbox")) << row.name;
    ReleaseSmtpLocal(n);
  }
}

TEST_F(InboundTest, TwoDomainsMakeTwoFiles) {
  int n = ReadyForData("<a@one.fr>");
  Say(n, "RCPT TO:<b@two.fr>\r\n");
  Say(n, "RCPT TO:<c@one.fr>\r\n");
  Say(n, "DATA\r\n");
  EXPECT_EQ("250 Message accepted for delivery\r\n", Say(n, "x\r\n.\r\n"));
  std::vector<std::string> files = home_.Files("OutBox");
  ASSERT_EQ(2u, files.size());
  CMessage first = ReadOutBox(0), second = ReadOutBox(1);
  if (first.ID.back() != '0') std::swap(first, second);
  EXPECT_EQ((std::vector<std::string>{"", "<a@one.fr>", "<c@one.fr>"}), first.RcptToList());
  EXPECT_EQ((std::vector<std::string>{"", "<b@two.fr>"}), second.RcptToList());
  EXPECT_NE(std::string::npos, MailLog().find(":  to=<a@one.fr> status=outbox"));
}

TEST_F(InboundTest, RefusedClientsGetNoReplyAndFreeTheirSlot) {
  struct {
    FakePeer peer;
    bool relay;
    bool served;
  } cases[] = {
      {{"", "127.0.0.2", "127.0.0.1"}, true, false},
      {{"", "192.168.1.9", "192.168.1.2"}, false, false},
      {{"", "192.168.1.9", "192.168.1.2"}, true, true},
      {{"", "10.0.0.5", "10.0.0.5"}, false, true},
  };
  for (const auto& c : cases) {
    Config().Relay = c.relay;
    int n = Connect(c.peer);
    ASSERT_EQ(1, n);
    EXPECT_EQ(c.served, form_->smtp.Exists(n)) << c.peer.remote_ip;
    if (c.served) {
      EXPECT_EQ(1u, form_->smtp.Sent(n).size());
      ReleaseSmtpLocal(n);
      continue;
    }
    EXPECT_TRUE(form_->smtp.Sent(n).empty()) << c.peer.remote_ip;
    EXPECT_EQ(0, Status(n));
    EXPECT_NE(std::string::npos,
              MailLog().find(" Dorvane/smtplocal[1] REJECT Host " + c.peer.remote_ip + " relay: deny\r\n"));
  }
}

TEST_F(InboundTest, HundredthClientIsToldTooManyWithoutTakingASlot) {
  for (int i = 1; i <= kLastSlot; ++i) ASSERT_EQ(i, Connect(OwnAddress(i)));
  int spare = Connect();
  EXPECT_EQ(kFirstSpareElement, spare);
  EXPECT_EQ("421 Too many connections, try again later\r\n", form_->smtp.LastSent(spare));
  form_->smtp.FireSendComplete(spare);
  EXPECT_FALSE(form_->smtp.Exists(spare));
  for (int i = 1; i <= kLastSlot; ++i) EXPECT_NE(0, Status(i)) << i;

  // A client the relay rule refuses is closed without a word, full or not.
  spare = Connect({"", "192.168.1.9", "10.0.0.1"});
  EXPECT_EQ(kFirstSpareElement, spare);
  EXPECT_EQ(0u, form_->smtp.Sent(spare).size());
  EXPECT_FALSE(form_->smtp.Exists(spare));
  EXPECT_NE(std::string::npos, MailLog().find("REJECT Host 192.168.1.9 relay: deny"));

  // A client leaving (without QUIT) makes room for the next one.
  form_->smtp.FireClose(42);
  EXPECT_FALSE(form_->smtp.Exists(42));
  EXPECT_EQ(42, Connect());
  EXPECT_EQ(kInGreeted, Status(42));
}

TEST_F(InboundTest, OneAddressHoldsAtMostTwentySlots) {
  for (int i = 0; i < kMaxSlotsPerAddress; ++i) ASSERT_EQ(kInGreeted, Status(Connect()));
  int turned = Connect();
  EXPECT_EQ("421 Too many connections, try again later\r\n", form_->smtp.LastSent(turned));
  form_->smtp.FireSendComplete(turned);
  EXPECT_EQ(0, Status(turned));
  EXPECT_FALSE(form_->smtp.Exists(turned));
  EXPECT_EQ(kInGreeted, Status(Connect(OwnAddress(0))));  // another address is served

  form_->smtp.FireClose(3);  // one of the twenty leaves
  EXPECT_EQ(kInGreeted, Status(Connect()));
}

TEST_F(InboundTest, ErrorOrCloseWithoutQuitReleasesTheSlot) {
  int a = ReadyForData();
  Say(a, "DATA\r\nhalf a mess");
  int b = Connect();
  form_->smtp.FireError(a, 10054, "Connection is reset by remote side");
  form_->smtp.FireClose(b);
  EXPECT_EQ(0, Status(a));
  EXPECT_EQ(0, Status(b));
  EXPECT_FALSE(form_->smtp.Exists(a));
  EXPECT_FALSE(form_->smtp.Exists(b));
  EXPECT_TRUE(home_.Files("OutBox").empty());
}

TEST_F(InboundTest, SilentClientTimesOut) {
  int n = Connect();
  now_ += kIdleTimeout - std::chrono::seconds(1);
  session_.SweepIdle();
  EXPECT_EQ(kInGreeted, Status(n));
  Say(n, "NOOP\r\n");  // activity restarts the count
  now_ += std::chrono::seconds(2);
  session_.SweepIdle();
  EXPECT_EQ(kInGreeted, Status(n));
  now_ += kIdleTimeout;
  session_.SweepIdle();
  EXPECT_EQ("421 Timeout, closing connection\r\n", form_->smtp.LastSent(n));
  EXPECT_EQ(kInQuit, Status(n));
  form_->smtp.FireSendComplete(n);
  EXPECT_EQ(0, Status(n));

  // A client that never reads its last reply is closed after the grace.
  int m = Connect();
  Say(m, "QUIT\r\n");
  now_ += kCloseGrace;
  session_.SweepIdle();
  EXPECT_EQ(0, Status(m));
  EXPECT_FALSE(form_->smtp.Exists(m));
}

TEST_F(InboundTest, OverlongCommandIsRefusedAndForgotten) {
  int n = Connect();
  std::string chunk(16 * 1024, 'a');
  for (int i = 0; i < 8; ++i) EXPECT_EQ("", Say(n, chunk));
  EXPECT_LE(CnxIn(n).SmtpCommand.size(), kMaxCommandBytes + chunk.size());
  EXPECT_EQ("500 Line too long.\r\n", Say(n, "\r\n"));
  EXPECT_EQ("500 Line too long.\r\n", Say(n, "HELO " + std::string(kMaxCommandBytes, 'b') + "\r\n"));
  EXPECT_EQ(kInGreeted, Status(n));
  EXPECT_EQ("250 Hello me\r\n", Say(n, "HELO me\r\n"));
}

TEST_F(InboundTest, OversizedMessageIsDroppedAsItArrives) {
  int n = ReadyForData();
  Say(n, "DATA\r\n");
  std::string chunk(1 << 20, 'x');
  chunk[100] = '\r', chunk[101] = '\n';
  for (size_t sent = 0; sent <= kMaxMessageBytes; sent += chunk.size()) EXPECT_EQ("", Say(n, chunk));
  EXPECT_LT(CnxIn(n).Message().Data.capacity() + CnxIn(n).SmtpCommand.capacity(), 4u << 20);
  EXPECT_EQ("", Say(n, "end\r\n"));
  EXPECT_EQ("552 Message size exceeds fixed maximum message size\r\n", Say(n, ".\r\n"));
  EXPECT_EQ(kInHelo, Status(n));
  EXPECT_TRUE(home_.Files("OutBox").empty());
  EXPECT_EQ("250 sender is <me@here.fr> sender ok\r\n", Say(n, "MAIL FROM:<me@here.fr>\r\n"));
}

TEST_F(InboundTest, LargeMessageInSmallPacketsIsCollectedQuickly) {
  int n = ReadyForData();
  Say(n, "DATA\r\n");
  std::string line = std::string(70, 'y') + "\r\n";
  std::string packet;
  while (packet.size() < 4000) packet += line;
  packet += "zz";  // packets do not end on a line end
  auto start = std::chrono::steady_clock::now();
  size_t total = 0;
  for (int i = 0; i < 2000; ++i, total += packet.size()) Say(n, packet);
  EXPECT_EQ("250 Message accepted for delivery\r\n", Say(n, "\r\n.\r\n"));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(total + 2, ReadOutBox().Data.size());
}

TEST_F(InboundTest, RecipientCountStopsAt255) {
  int n = ReadyForData();
  for (int i = 2; i <= 255; ++i) Say(n, "RCPT TO:<r" + std::to_string(i) + "@there.de>\r\n");
  EXPECT_EQ(255, CnxIn(n).Message().MRcptToCount());
  EXPECT_EQ("452 Too many recipients\r\n", Say(n, "RCPT TO:<late@there.de>\r\n"));
  EXPECT_EQ(kInMail, Status(n));
}

TEST_F(InboundTest, FailedSpoolWriteIsAnsweredWith451AndLeavesNoFile) {
  int n = ReadyForData();
  Say(n, "DATA\r\n");
  std::filesystem::remove_all(home_.Path("OutBox"));
  EXPECT_EQ("451 Requested action aborted: local error in processing\r\n", Say(n, "x\r\n.\r\n"));
  EXPECT_EQ(kInHelo, Status(n));
  EXPECT_EQ(std::string::npos, MailLog().find("status=outbox"));
}

// The spool needs the message's size once per domain file, plus 10 MB.
TEST_F(InboundTest, SpoolShortOfRoomIsAnswered452BeforeWriting) {
  const std::string text(100, 'x');
  const uint64_t margin = 10'000'000;
  int n = ReadyForData("<a@one.fr>");
  Say(n, "RCPT TO:<b@two.fr>\r\n");
  free_ = margin + 2 * (text.size() + 2) - 1;
  Say(n, "DATA\r\n");
  EXPECT_EQ("452 4.3.1 Insufficient system storage\r\n", Say(n, text + "\r\n.\r\n"));
  EXPECT_EQ(kInHelo, Status(n));
  EXPECT_TRUE(home_.Files("OutBox").empty());
  EXPECT_EQ(std::string::npos, MailLog().find("status=outbox"));

  ++*free_;  // the session goes on, and now it fits
  Say(n, "MAIL FROM:<me@here.fr>\r\nRCPT TO:<a@one.fr>\r\nRCPT TO:<b@two.fr>\r\nDATA\r\n");
  EXPECT_EQ("250 Message accepted for delivery\r\n", Say(n, text + "\r\n.\r\n"));
  EXPECT_EQ(2u, home_.Files("OutBox").size());
}

// Whatever a client sends reaches Debug.html as text, never as markup.
TEST_F(InboundTest, ClientTextIsEscapedInTheDebugLog) {
  Config().DebugMode = true;
  PushDebugMode();
  int n = Connect();
  Say(n, "HELO <script>alert(1)</script>\r\n");
  Say(n, "MAIL FROM:<a@b.cc><b>\r\n");
  Say(n, "MAIL FROM:<a@b.cc>\r\n");
  Say(n, "RCPT TO:<img src=x onerror=alert(1)@a.bc>\r\n");
  Say(n, "DATA\r\n<iframe>\r\n.\r\n");
  std::ifstream in(home_.Path("Debug.html"), std::ios::binary);
  std::string debug((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (const char* tag : {"<script", "<b>", "<img", "<iframe"})
    EXPECT_EQ(std::string::npos, debug.find(tag)) << tag;
  EXPECT_NE(std::string::npos, debug.find("250 Hello &lt;script&gt;"));
}

}  // namespace
}  // namespace dorvane
