// The outbound dialogue driven reply by reply through the fake socket array.
#include <gtest/gtest.h>

#include <filesystem>

#include "base/program.h"
#include "delivery/queue_scan.h"
#include "delivery/session_states.h"
#include "delivery/tests/delivery_support.h"
#include "delivery/yield.h"
#include "relay/connexion.h"

namespace dorvane::testing {
namespace {

class ClientSessionTest : public DeliveryTest {
 protected:
  // Queues F1 for three recipients of dest.test and dispatches it on slot 1.
  void StartThreeRecipients() {
    Route("dest.test", {"mx1.dest.test"});
    Queue("F1", {"<a@dest.test>", "<b@dest.test>", "<c@dest.test>"});
    VerifOutBox();
    ASSERT_EQ(CnxOut(1).Status(), kOutConnecting);
    form->distant.At(1).peer.remote_ip = "127.0.0.7";
    form->distant.FireConnect(1);
  }
};

TEST_F(ClientSessionTest, EachReplyRunsOneRowAndSendsTheNextCommand) {
  StartThreeRecipients();
  EXPECT_EQ(form->distant.At(1).RemoteHost(), "mx1.dest.test");
  EXPECT_EQ(form->distant.At(1).RemotePort(), 25);
  struct Step {
    const char* partial;  // bytes first, that make no complete reply
    const char* reply;
    const char* sent;
    int32_t state;
  };
  const Step steps[] = {
      {"220-mx1 ESMTP\r\n", "220 ready\r\n", "HELO relay.test\r\n", kOutHeloSent},
      {"25", "0 hello\r\n", "MAIL FROM: <sender@origin.test>\r\n", kOutMailFromSent},
      {"", "250 sender ok\r\n", "RCPT TO: <a@dest.test>\r\n", kOutMailFromSent},
      {"", "250 ok\r\n", "RCPT TO: <b@dest.test>\r\n", kOutMailFromSent},
      {"", "250 ok\r\n", "RCPT TO: <c@dest.test>\r\n", kOutLastRcptSent},
      {"250-ok\r\n25", "0-more\r\n250 ok\r\n", "DATA\r\n", kOutDataSent},
      // Stored data ends with CR LF, so an empty line precedes the end mark.
      {"", "354 go\r\n", "Subject: hello\r\n\r\nbody line\r\n\r\n.\r\n", kOutBodySending},
  };
  for (const Step& step : steps) {
    const size_t sent_before = Sent(1).size();
    if (*step.partial) form->distant.Receive(1, step.partial);
    EXPECT_EQ(Sent(1).size(), sent_before) << step.partial;
    form->distant.Receive(1, step.reply);
    EXPECT_EQ(form->distant.LastSent(1), step.sent) << step.reply;
    EXPECT_EQ(Sent(1).size(), sent_before + 1) << step.reply;
    EXPECT_EQ(CnxOut(1).Status(), step.state) << step.reply;
  }
  form->distant.FireSendComplete(1);
  EXPECT_EQ(CnxOut(1).Status(), kOutBodySent);
  form->distant.Receive(1, "250 2.0.0 queued as X\r\n");

  EXPECT_EQ(form->distant.LastSent(1), "QUIT\r\n");
  EXPECT_EQ(CnxOut(1).Status(), kOutFree);
  EXPECT_FALSE(form->distant.Exists(1));
  EXPECT_EQ(Files("OutBox"), std::vector<std::string>{});
  EXPECT_TRUE(form->outbox_timer.Enabled());
  const std::string sent = ", relay=mx1.dest.test [127.0.0.7], status=sent (250 2.0.0 queued as X)";
  EXPECT_EQ(MailLog(), (std::vector<std::string>{
                           " Dorvane/smtpdistant[1]: F1 connect to mx1.dest.test [127.0.0.7]",
                           " Dorvane/smtpdistant[1]: F1 to=<a@dest.test>" + sent,
                           " Dorvane/smtpdistant[1]: F1 to=<b@dest.test>" + sent,
                           " Dorvane/smtpdistant[1]: F1 to=<c@dest.test>" + sent,
                       }));
}

// Replies that fit no state end the session at once with QUIT: a 5xx for
// good, anything else for now. What is kept of a reply (log, LastError,
// notices) is its first line, clean and bounded, and nothing of it can end
// a notice's text early or forge a log line or markup.
TEST_F(ClientSessionTest, HostileAndUnexpectedRepliesEndTheSessionAtOnce) {
  const std::vector<std::string> path = {"220 hi\r\n", "250 hi\r\n", "250 ok\r\n", "250 ok\r\n",
                                         "250 ok\r\n", "250 ok\r\n", "354 go\r\n"};
  const std::string prefix = " Dorvane/smtpdistant[1]: F1 ";
  const std::string deferred = ") for mx1.dest.test [127.0.0.7], status=deferred, attempt=1";
  const std::string bounced = " status=error, return error to=<sender@origin.test>";
  const std::string sent = ", relay=mx1.dest.test [127.0.0.7], status=sent (";
  const std::string controls = std::string("550 5.7.1 a\0b", 13) + "\x1b[2J\x7f" + "c\r\n";
  struct Case {
    size_t before;                    // replies of the normal path first
    std::vector<std::string> chunks;  // then these reads
    const char* folder;               // F1: "Deferred", "OutBox" (its bounce), "" (sent)
    std::string log;                  // the last mail-log line, after the prefix
    std::string reason;               // LastError, or the bounce's diagnostic
  };
  const Case cases[] = {
      {0, {"421-4.3.2 too busy\r\n4", "21 later\r\n"}, "Deferred",
       "connection failed (421-4.3.2 too busy" + deferred, "421-4.3.2 too busy"},
      {0, {"554 5.7.1 <script>go away</script>\r\n"}, "OutBox",
       "Error 554 (554 5.7.1 <script>go away</script>), error for=<a@dest.test>" + bounced,
       "554 5.7.1 <script>go away</script>"},
      {0, {"\x16\x03\x01 not smtp\r\n"}, "Deferred", "connection failed ( not smtp" + deferred, " not smtp"},
      {3, {"451 4.7.1 greylisted\r\n"}, "Deferred", "connection failed (451 4.7.1 greylisted" + deferred,
       "451 4.7.1 greylisted"},
      {4, {"552 5.2.2 full\r\n"}, "OutBox", "Error 552 (552 5.2.2 full), error for=<b@dest.test>" + bounced,
       "552 5.2.2 full"},
      {7, {"550 5.7.1 spam\r\n.\r\nMAIL FROM:<ceo@bank.test>\r\nRCPT TO:<x@far.test>\r\n"}, "OutBox",
       "Error 550 (550 5.7.1 spam), error for=<a@dest.test>" + bounced, "550 5.7.1 spam"},
      {7, {controls}, "OutBox", "Error 550 (550 5.7.1 ab[2Jc), error for=<a@dest.test>" + bounced,
       "550 5.7.1 ab[2Jc"},
      {7, {"554 " + std::string(600, 'x') + "\r\n"}, "OutBox",
       "Error 554 (554 " + std::string(508, 'x') + "), error for=<a@dest.test>" + bounced,
       "554 " + std::string(508, 'x')},
      // Two replies in one read, the final one before the send-complete event.
      {6, {"354 go\r\n250 2.0.0 queued\r\nfake 250\r\n"}, "", "to=<c@dest.test>" + sent + "250 2.0.0 queued)", ""},
  };
  Config().DebugMode = true;  // replies are traced in Debug.html too
  for (const Case& c : cases) {
    SCOPED_TRACE(c.log);
    ResetSlotPools();
    for (const char* f : {"OutBox", "Deferred", "Error"})
      std::filesystem::remove_all(program.Path(f)), std::filesystem::create_directories(program.Path(f));
    std::filesystem::remove(program.Path("Debug.html"));
    Config().KeepLocal = false;
    StartThreeRecipients();
    Config().KeepLocal = true;  // the notices stay queued where the test sees them
    for (size_t k = 0; k < c.before; ++k) form->distant.Receive(1, path[k]);
    if (c.before == 7) form->distant.FireSendComplete(1);
    for (const std::string& chunk : c.chunks) form->distant.Receive(1, chunk);

    EXPECT_EQ(CnxOut(1).Status(), kOutFree);
    EXPECT_EQ(form->distant.LastSent(1), "QUIT\r\n");
    EXPECT_EQ(MailLog().back(), prefix + c.log);
    EXPECT_EQ(program.Read("Debug.html").find("<script>"), std::string::npos);
    const std::string folder = c.folder;
    if (folder.empty()) {
      EXPECT_EQ(Files("OutBox"), std::vector<std::string>{});
      continue;
    }
    CMessage m = Read(folder, "F1");
    EXPECT_EQ(m.ForSender, folder == "OutBox");
    if (folder == "Deferred") {
      EXPECT_EQ(m.LastError, c.reason);
    }
    const std::string text = folder == "OutBox" ? m.Data : Read("OutBox", Files("OutBox")[0]).Data;
    EXPECT_NE(text.find("Diagnostic-Code: " + c.reason + "\r\n"), std::string::npos);
    EXPECT_EQ(("\r\n" + text).find("\r\n.\r\n"), std::string::npos);
    EXPECT_EQ(text.find("MAIL FROM"), std::string::npos);
  }
}

TEST_F(ClientSessionTest, UnexpectedReplyShowsANonBlockingBoxOnlyOnTheDesktop) {
  Route("dest.test", {"mx1.dest.test", "mx2.dest.test"});
  Queue("F1", {"<a@dest.test>"});
  VerifOutBox();
  form->distant.FireConnect(1);
  form->distant.Receive(1, "421 busy\r\n");
  EXPECT_EQ(program.dialogs.boxes.size(), 0u);  // headless: logged only
  EXPECT_EQ(MailLog().back(), " Dorvane/smtpdistant[1]: F1 connection failed (421 busy) for mx1.dest.test [127.0.0.1], status=trying other MX server, attempt=1");
  EXPECT_EQ(MailLog()[MailLog().size() - 2], " Dorvane/smtpdistant[1]: F1 unexpected reply: 421 busy");
  SetHeadless(false);
  form->distant.FireConnect(1);
  form->distant.Receive(1, "421 busy\r\n");
  SetHeadless(true);
  ASSERT_EQ(program.dialogs.boxes.size(), 1u);
  EXPECT_EQ(program.dialogs.boxes[0].text, "RECEIVED DATA NOT IMPLEMENTED ! See debug log ...");
  EXPECT_EQ(Read("Deferred", "F1").LastError, "421 busy");
}

TEST_F(ClientSessionTest, ScanAfterTheFirstCommandDispatchesTheNextFileOnTheNextSlot) {
  Route("dest.test", {"mx1.dest.test"});
  Queue("F1", {"<a@dest.test>"});
  Queue("F2", {"<b@dest.test>"});
  VerifOutBox();
  EXPECT_EQ(CnxOut(2).Status(), kOutFree);
  form->distant.FireConnect(1);
  form->distant.Receive(1, "220 hi\r\n");
  EXPECT_EQ(CnxOut(2).Status(), kOutConnecting);
  EXPECT_NE(CnxOut(2).CurrentOutFile, CnxOut(1).CurrentOutFile);
}

TEST_F(ClientSessionTest, EventsDuringTheQuitYieldDoNotReachTheEndingSlot) {
  Route("dest.test", {"mx1.dest.test"});
  Queue("F1", {"<a@dest.test>"});
  VerifOutBox();
  form->distant.FireConnect(1);
  Converse(1, {"220 hi\r\n", "250 hi\r\n", "250 ok\r\n", "250 ok\r\n", "354 go\r\n"});
  bool fired = false;
  SetYieldAction([&] {
    if (fired || CnxOut(1).Status() != kOutEnding) return;
    fired = true;
    form->distant.Receive(1, "221 bye\r\n");
    form->distant.FireClose(1);
    form->distant.FireError(1, 10054, "reset");
  });
  form->distant.Receive(1, "250 queued\r\n");
  EXPECT_TRUE(fired);
  EXPECT_EQ(program.dialogs.boxes.size(), 0u);
  EXPECT_EQ(Files("Deferred"), std::vector<std::string>{});
  EXPECT_EQ(Files("OutBox"), std::vector<std::string>{});
  EXPECT_EQ(MailLog().back(), " Dorvane/smtpdistant[1]: F1 to=<a@dest.test>, relay=mx1.dest.test [127.0.0.1], status=sent (250 queued)");
}

}  // namespace
}  // namespace dorvane::testing
