// The outbound dialogue driven reply by reply through the fake socket array.
#include <gtest/gtest.h>

#include <filesystem>

#include "delivery/queue_scan.h"
#include "delivery/session_states.h"
#include "delivery/tests/delivery_support.h"
#include "delivery/yield.h"
#include "service/connexion.h"
#include "service/program.h"

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
    const char* reply;
    const char* sent;
    int32_t state;
  };
  const Step steps[] = {
      {"220 mx1 ESMTP\r\n", "HELO relay.test\r\n", kOutHeloSent},
      {"250 hello\r\n", "MAIL FROM: <sender@origin.test>\r\n", kOutMailFromSent},
      {"250 sender ok\r\n", "RCPT TO: <a@dest.test>\r\n", kOutMailFromSent},
      {"250 ok\r\n", "RCPT TO: <b@dest.test>\r\n", kOutMailFromSent},
      {"250 ok\r\n", "RCPT TO: <c@dest.test>\r\n", kOutLastRcptSent},
      {"250 ok\r\n", "DATA\r\n", kOutDataSent},
      // Stored data ends with CR LF, so an empty line precedes the end mark.
      {"354 go\r\n", "Subject: hello\r\n\r\nbody line\r\n\r\n.\r\n", kOutBodySending},
  };
  for (const Step& step : steps) {
    form->distant.Receive(1, step.reply);
    EXPECT_EQ(form->distant.LastSent(1), step.sent) << step.reply;
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

TEST_F(ClientSessionTest, RepliesThatDoNotFitTheStateChangeNothing) {
  struct Case {
    int replies_before;  // positive replies of the normal path first
    const char* reply;
    int32_t state;
  };
  const std::vector<std::string> path = {"220 hi\r\n", "250 hi\r\n", "250 ok\r\n", "250 ok\r\n", "250 ok\r\n",
                                         "250 ok\r\n", "354 go\r\n"};
  const Case cases[] = {
      {0, "421 busy\r\n", kOutConnecting},       {1, "550 no HELO\r\n", kOutHeloSent},
      {2, "550 no sender\r\n", kOutMailFromSent}, {3, "550 not the last\r\n", kOutMailFromSent},
      {5, "451 later\r\n", kOutLastRcptSent},     {6, "250 not 354\r\n", kOutDataSent},
      // The final reply before the send-complete event.
      {7, "250 too early\r\n", kOutBodySending},  {1, "25", kOutHeloSent},
  };
  for (const Case& c : cases) {
    ResetSlotPools();
    if (form->distant.Exists(1)) form->distant.Unload(1);
    StartThreeRecipients();
    for (int k = 0; k < c.replies_before; ++k) form->distant.Receive(1, path[k]);
    size_t sent_before = Sent(1).size();
    form->distant.Receive(1, c.reply);
    EXPECT_EQ(CnxOut(1).Status(), c.state) << c.reply;
    EXPECT_EQ(Sent(1).size(), sent_before) << c.reply;
    EXPECT_TRUE(form->distant.Exists(1)) << c.reply;
    std::filesystem::remove(program.Path("OutBox/F1"));
  }
}

TEST_F(ClientSessionTest, UnexpectedReplyShowsANonBlockingBoxOnlyOnTheDesktop) {
  StartThreeRecipients();
  form->distant.Receive(1, "421 busy\r\n");
  EXPECT_EQ(program.dialogs.boxes.size(), 0u);  // headless: logged only
  EXPECT_EQ(MailLog().back(), " Dorvane/smtpdistant[1]: " + CnxOut(1).Message().ID + " unexpected reply: 421 busy");
  SetHeadless(false);
  form->distant.Receive(1, "421 busy\r\n");
  SetHeadless(true);
  ASSERT_EQ(program.dialogs.boxes.size(), 1u);
  EXPECT_EQ(program.dialogs.boxes[0].text, "RECEIVED DATA NOT IMPLEMENTED ! See debug log ...");
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
