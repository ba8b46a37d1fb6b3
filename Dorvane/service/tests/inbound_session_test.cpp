#include <chrono>
#include <fstream>

#include <gtest/gtest.h>

#include "service/connexion.h"
#include "service/inbound_session.h"
#include "service/inbound_text.h"
#include "service/tests/fake_form_support.h"
#include "spool/message.h"
#include "spool/spool_file.h"
#include "spool/tests/temp_home.h"

namespace dorvane {
namespace {

using fake::FakePeer;
using Clock = InboundSession::Clock;

class InboundTest : public ::testing::Test {
 protected:
  InboundTest() : session_([this] { return now_; }) {
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

  // Sends `bytes` from the client of element n; the reply they caused
  // ("" when none).
  std::string Say(int n, const std::string& bytes) {
    size_t before = form_->smtp.Sent(n).size();
    form_->smtp.Receive(n, bytes);
    const auto& sent = form_->smtp.Sent(n);
    return sent.size() > before ? sent.back() : std::string();
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

  testing_support::TempHome home_;
  fake::ScopedFakeForm form_;
  Clock::time_point now_ = Clock::now();
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

TEST(InboundRules, MessageEndIsALastLineMadeOfOneDot) {
  EXPECT_TRUE(EndsMessage(".\r\n"));
  EXPECT_TRUE(EndsMessage("text\r\n.\r\n"));
  EXPECT_FALSE(EndsMessage("text\r\n..\r\n"));
  EXPECT_FALSE(EndsMessage("text.\r\n"));
  EXPECT_FALSE(EndsMessage(".\r\nmore\r\n"));
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
  // Two commands in one packet are one unit: the first word decides and
  // the echo stops at the first line.
  EXPECT_EQ("250 Noop Ok.\r\n", Say(n, "NOOP\r\nQUIT\r\n"));
  EXPECT_EQ(kInHelo, Status(n));
  Say(n, "MAIL FROM:<me@here.fr>\r\n");
  Say(n, "RCPT TO:<you@there.de>\r\n");
  Say(n, "DATA\r\n");
  EXPECT_EQ("", Say(n, "line one\r\nline t"));
  EXPECT_EQ("", Say(n, "wo\r\n"));
  EXPECT_EQ("", Say(n, "."));
  EXPECT_EQ("250 Message accepted for delivery\r\n", Say(n, "\r\n"));
  EXPECT_EQ("line one\r\nline two\r\n", ReadOutBox().Data);
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
  for (int i = 1; i <= kLastSlot; ++i) ASSERT_EQ(i, Connect());
  int spare = Connect();
  EXPECT_EQ(kFirstSpareElement, spare);
  EXPECT_EQ("421 Too many connections, try again later\r\n", form_->smtp.LastSent(spare));
  form_->smtp.FireSendComplete(spare);
  EXPECT_FALSE(form_->smtp.Exists(spare));
  for (int i = 1; i <= kLastSlot; ++i) EXPECT_NE(0, Status(i)) << i;

  // A client leaving (without QUIT) makes room for the next one.
  form_->smtp.FireClose(42);
  EXPECT_FALSE(form_->smtp.Exists(42));
  EXPECT_EQ(42, Connect());
  EXPECT_EQ(kInGreeted, Status(42));
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

}  // namespace
}  // namespace dorvane
