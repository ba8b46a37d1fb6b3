// Failed attempts: next exchanger, deferral, bounce, Error folder.
#include <gtest/gtest.h>

#include <filesystem>

#include "base/program.h"
#include "config/configuration.h"
#include "delivery/session_limits.h"
#include "delivery/session_states.h"
#include "delivery/tests/delivery_support.h"
#include "relay/connexion.h"

namespace dorvane::testing {
namespace {

const char kPrefix[] = " Dorvane/smtpdistant[1]: F1 ";

class FailureTest : public DeliveryTest {
 protected:
  // Dispatches F1 (to `rcpts`) on slot 1 towards the hosts of dest.test.
  void Dispatch(std::vector<std::string> hosts, uint8_t essai = 0, bool for_sender = false,
                std::vector<std::string> rcpts = {"<a@dest.test>"}) {
    Route("dest.test", hosts);
    Queue("F1", rcpts, essai, for_sender);
    queue().VerifOutBox();
    ASSERT_EQ(Out(1).Status(), kOutConnecting);
  }
  // The notices queued in OutBox besides F1.
  std::vector<std::string> Notices() {
    std::vector<std::string> names;
    for (const std::string& n : Files("OutBox"))
      if (n != "F1") names.push_back(n);
    return names;
  }
};

TEST_F(FailureTest, FailedHostsAreFollowedByTheNextOnesWithinOneAttempt) {
  Dispatch({"a.dest.test", "b.dest.test", "c.dest.test"});
  form.distant.FireError(1, 10061, "refused");
  form.distant.At(1).peer.remote_ip = "";  // the name did not resolve
  form.distant.FireError(1, 11001, "Host not found");
  EXPECT_EQ(form.distant.At(1).RemoteHost(), "c.dest.test");
  EXPECT_EQ(form.distant.ConnectCount(1), 3);
  EXPECT_EQ(Out(1).Message().Essai, 1);
  EXPECT_EQ(MailLog(), (std::vector<std::string>{
      std::string(kPrefix) + "connection failed (refused by peer) for a.dest.test [127.0.0.1], status=trying other MX server, attempt=1",
      std::string(kPrefix) + "connection failed (host not found) for b.dest.test, status=trying other MX server, attempt=1"}));
  form.distant.At(1).peer.remote_ip = "127.0.0.1";
  form.distant.FireConnect(1);
  Converse(1, {"220 c\r\n", "250 hi\r\n", "250 ok\r\n", "250 ok\r\n", "354 go\r\n", "250 done\r\n"});
  EXPECT_EQ(Files("OutBox"), std::vector<std::string>{});
}

TEST_F(FailureTest, AllHostsFailedDefersWithADelayNotice) {
  Dispatch({"a.dest.test", "b.dest.test"});
  form.distant.FireError(1, 10061, "refused");
  form.distant.FireError(1, 10061, "refused");
  EXPECT_EQ(MailLog().back(), std::string(kPrefix) + "connection failed (refused by peer) for b.dest.test [127.0.0.1], status=deferred, attempt=1");
  CMessage deferred = Read("Deferred", "F1");
  EXPECT_EQ(deferred.Essai, 1);
  EXPECT_EQ(deferred.LastError, "10061: refused");
  ASSERT_EQ(Notices().size(), 1u);
  CMessage notice = Read("OutBox", Notices()[0]);
  EXPECT_TRUE(notice.ForSender);
  EXPECT_EQ(notice.RcptTo(1), "<sender@origin.test>");
  EXPECT_EQ(Out(1).Status(), kOutFree);
  EXPECT_TRUE(form.outbox_timer.Enabled());
}

TEST_F(FailureTest, LastAttemptOutcomeDependsOnCountAndNotice) {
  struct Case {
    uint8_t essai, max;
    bool for_sender;
    const char* folder;  // where F1 ends
    size_t notices;
    const char* log_tail;
  };
  const Case cases[] = {
      {3, 3, false, "OutBox", 0, "3st connection failed (refused by peer) for a.dest.test [127.0.0.1], status=error, return error to=<sender@origin.test>"},
      {0, 0, false, "OutBox", 0, "0st connection failed (refused by peer) for a.dest.test [127.0.0.1], status=error, return error to=<sender@origin.test>"},
      {3, 3, true, "Error", 0, "3st connection failed (refused by peer) for a.dest.test [127.0.0.1], status=error, not return error because it's already a return-error-mail: deny loop"},
      // A notice that is deferred gets no delay notice of its own.
      {0, 3, true, "Deferred", 0, "connection failed (refused by peer) for a.dest.test [127.0.0.1], status=deferred, attempt=1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.log_tail);
    Reset();
    test.settings.running.MaxNbrAttempt = c.max;
    Dispatch({"a.dest.test"}, c.essai, c.for_sender);
    form.distant.FireError(1, 10061, "refused");
    EXPECT_EQ(MailLog().back(), kPrefix + std::string(c.log_tail));
    EXPECT_EQ(Files(c.folder).size(), c.notices + 1);
    EXPECT_EQ(Notices().size(), std::string(c.folder) == "OutBox" ? 0u : c.notices);
    CMessage m = Read(c.folder, "F1");
    if (std::string(c.folder) == "OutBox") {  // the bounce, in F1's place
      EXPECT_TRUE(m.ForSender);
      EXPECT_EQ(m.Essai, 0);
      EXPECT_NE(m.Data.find("This was the " + std::to_string(c.max) + "st attempt ..."), std::string::npos);
    }
  }
  EXPECT_EQ(ErrorLog(), std::vector<std::string>{"See log file at this time : The corresponding message is not routable => placed in the error directory"});
}

TEST_F(FailureTest, UnreachableSmarthostSendsTheMessageToErrorAtOnce) {
  test.settings.file.SmtpServerDefined = true;
  Queue("F1", {"<a@dest.test>"});
  queue().VerifOutBox();
  ASSERT_EQ(form.distant.At(1).RemoteHost(), "smarthost.test");
  form.distant.FireError(1, 10061, "refused");
  EXPECT_EQ(MailLog().back(), std::string(kPrefix) + "1st connection failed (refused by peer) for smarthost.test [127.0.0.1], status=error, not return error neither deferred because there's no route available with the specified SMTP server");
  EXPECT_EQ(ErrorLog(), std::vector<std::string>{" F1 See log file at this time : The corresponding message is not routable => placed in the error directory"});
  EXPECT_EQ(Read("Error", "F1").LastError, "10061: refused");
  EXPECT_EQ(Files("OutBox"), std::vector<std::string>{});
  EXPECT_EQ(Files("Deferred"), std::vector<std::string>{});
  // A smarthost that answers "later" is reachable: its message waits.
  Queue("F2", {"<a@dest.test>"});
  queue().VerifOutBox();
  form.distant.FireConnect(1);
  Converse(1, {"421 4.7.0 later\r\n"});
  EXPECT_EQ(MailLog().back(), " Dorvane/smtpdistant[1]: F2 connection failed (421 4.7.0 later) for smarthost.test [127.0.0.1], status=deferred, attempt=1");
  EXPECT_EQ(Read("Deferred", "F2").LastError, "421 4.7.0 later");
}

TEST_F(FailureTest, Refusal550BouncesAtOnceOrStopsANotice) {
  struct Case {
    int replies;  // positive replies before the 550
    bool for_sender;
    const char* refused;
    const char* folder;
    size_t error_lines;
  };
  const std::vector<std::string> path = {"220 hi\r\n", "250 hi\r\n", "250 ok\r\n", "250 ok\r\n",
                                         "250 ok\r\n", "250 ok\r\n", "354 go\r\n"};
  const Case cases[] = {
      {5, false, "<c@dest.test>", "OutBox", 0},  // third and last recipient refused
      {7, false, "<a@dest.test>", "OutBox", 0},  // after the body
      {5, true, "<c@dest.test>", "Error", 1},
      {7, true, "<a@dest.test>", "Error", 1},    // no new error.txt line after the body
  };
  test.settings.running.DebugMode = true;  // replies are traced in Debug.html too
  for (const Case& c : cases) {
    SCOPED_TRACE(c.replies);
    Reset();
    Route("origin.test", {"mx.origin.test"});  // the bounce leaves at once, towards here
    Dispatch({"a.dest.test"}, 0, c.for_sender, {"<a@dest.test>", "<b@dest.test>", "<c@dest.test>"});
    form.distant.FireConnect(1);
    Converse(1, std::vector<std::string>(path.begin(), path.begin() + c.replies));
    // What follows the reply must reach neither the bounce's text nor its
    // session on this slot, nor the debug log as markup.
    form.distant.Receive(1, "550 5.1.1 <b>no</b> user\r\n.\r\nMAIL FROM:<ceo@bank.test>\r\n421 x\r\n");
    EXPECT_EQ(form.distant.LastSent(1), "QUIT\r\n");
    form.distant.FireSendComplete(1);
    test.loop.RunPosted();  // the bounce leaves on the freed slot
    std::string tail = c.for_sender ? " status=error, not return error because it's already a return-error-mail: deny loop"
                                     : " status=error, return error to=<sender@origin.test>";
    EXPECT_EQ(MailLog().back(), kPrefix + std::string("Error 550 (550 5.1.1 <b>no</b> user), error for=") + c.refused + tail);
    CMessage m = Read(c.folder, "F1");
    EXPECT_EQ(ErrorLog().size(), c.error_lines);
    EXPECT_EQ(test.program.Read("Debug.html").find("<b>"), std::string::npos);
    if (!c.for_sender) {
      EXPECT_EQ(m.MRcptToCount(), 1);
      EXPECT_NE(m.Data.find("<c@dest.test>: 550 5.1.1 <b>no</b> user"), std::string::npos);
      EXPECT_EQ(("\r\n" + m.Data).find("\r\n.\r\n"), std::string::npos);
      EXPECT_EQ(m.Data.find("MAIL FROM"), std::string::npos);
    }
    if (!c.for_sender) {
      EXPECT_EQ(form.distant.At(1).RemoteHost(), "mx.origin.test");
    }
    std::filesystem::remove(test.program.Path(std::string(c.folder) + "/F1"));
  }
}

TEST_F(FailureTest, PeerCloseAndSilenceFailTheSessionLikeSocketErrors) {
  Dispatch({"a.dest.test", "b.dest.test", "c.dest.test"});
  test.clock.Advance(kConnectLimitSeconds);
  test.loop.TickTimers();  // exactly at the limit: still waiting
  EXPECT_EQ(MailLog(), std::vector<std::string>{});
  test.clock.Advance(1);
  test.loop.TickTimers();  // connect too slow
  form.distant.FireConnect(1);
  form.distant.Receive(1, "220 hi\r\n");
  form.distant.FireClose(1);  // peer hangs up
  form.distant.FireConnect(1);
  test.clock.Advance(kReplyLimitSeconds);
  test.loop.TickTimers();  // no greeting yet, exactly at the limit
  test.clock.Advance(1);
  test.loop.TickTimers();
  EXPECT_EQ(MailLog(), (std::vector<std::string>{
      std::string(kPrefix) + "connection failed (time out) for a.dest.test [127.0.0.1], status=trying other MX server, attempt=1",
      std::string(kPrefix) + "connect to b.dest.test [127.0.0.1]",
      std::string(kPrefix) + "connection failed (unknown reason: 10053) for b.dest.test [127.0.0.1], status=trying other MX server, attempt=1",
      std::string(kPrefix) + "connect to c.dest.test [127.0.0.1]",
      std::string(kPrefix) + "connection failed (time out) for c.dest.test [127.0.0.1], status=deferred, attempt=1"}));
  EXPECT_EQ(Read("Deferred", "F1").LastError, "10060: Connection timed out.");
  // A QUIT that never leaves frees its slot once the reply limit passes.
  Reset();
  Dispatch({"a.dest.test"});
  form.distant.FireConnect(1);
  form.distant.Receive(1, "554 go away\r\n");
  EXPECT_EQ(Out(1).Status(), kOutEnding);
  test.clock.Advance(kReplyLimitSeconds + 1);
  test.loop.TickTimers();
  EXPECT_EQ(Out(1).Status(), kOutFree);
  EXPECT_EQ(MailLog().back(), std::string(kPrefix) + "Error 554 (554 go away), error for=<a@dest.test> status=error, return error to=<sender@origin.test>");
}

TEST_F(FailureTest, UnexpectedReplyShowsANonBlockingBoxOnlyOnTheDesktop) {
  Dispatch({"mx1.dest.test", "mx2.dest.test"});
  form.distant.FireConnect(1);
  Converse(1, {"421 busy\r\n"});
  EXPECT_EQ(test.program.dialogs.boxes.size(), 0u);  // headless: logged only
  EXPECT_EQ(MailLog().back(), std::string(kPrefix) + "connection failed (421 busy) for mx1.dest.test [127.0.0.1], status=trying other MX server, attempt=1");
  EXPECT_EQ(MailLog()[MailLog().size() - 2], std::string(kPrefix) + "unexpected reply: 421 busy");
  test.program.dialogs.visible = true;
  form.distant.FireConnect(1);
  Converse(1, {"421 busy\r\n"});
  ASSERT_EQ(test.program.dialogs.boxes.size(), 1u);
  EXPECT_EQ(test.program.dialogs.boxes[0].text, "RECEIVED DATA NOT IMPLEMENTED ! See debug log ...");
  EXPECT_EQ(Read("Deferred", "F1").LastError, "421 busy");
}

}  // namespace
}  // namespace dorvane::testing
