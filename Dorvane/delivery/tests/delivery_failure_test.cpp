// Failed attempts: next exchanger, deferral, bounce, Error folder.
#include <gtest/gtest.h>

#include <filesystem>

#include "delivery/delivery_failure.h"
#include "delivery/queue_scan.h"
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
    VerifOutBox();
    ASSERT_EQ(CnxOut(1).Status(), kOutConnecting);
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
  form->distant.FireError(1, 10061, "refused");
  form->distant.At(1).peer.remote_ip = "";  // the name did not resolve
  form->distant.FireError(1, 11001, "Host not found");
  EXPECT_EQ(form->distant.At(1).RemoteHost(), "c.dest.test");
  EXPECT_EQ(form->distant.ConnectCount(1), 3);
  EXPECT_EQ(CnxOut(1).Message().Essai, 1);
  EXPECT_EQ(MailLog(), (std::vector<std::string>{
      std::string(kPrefix) + "connection failed (refused by peer) for a.dest.test [127.0.0.1], status=trying other MX server, attempt=1",
      std::string(kPrefix) + "connection failed (host not found) for b.dest.test, status=trying other MX server, attempt=1"}));
  form->distant.At(1).peer.remote_ip = "127.0.0.1";
  form->distant.FireConnect(1);
  Converse(1, {"220 c\r\n", "250 hi\r\n", "250 ok\r\n", "250 ok\r\n", "354 go\r\n", "250 done\r\n"});
  EXPECT_EQ(Files("OutBox"), std::vector<std::string>{});
}

TEST_F(FailureTest, AllHostsFailedDefersWithADelayNotice) {
  Dispatch({"a.dest.test", "b.dest.test"});
  form->distant.FireError(1, 10061, "refused");
  form->distant.FireError(1, 10061, "refused");
  EXPECT_EQ(MailLog().back(), std::string(kPrefix) + "connection failed (refused by peer) for b.dest.test [127.0.0.1], status=deferred, attempt=1");
  CMessage deferred = Read("Deferred", "F1");
  EXPECT_EQ(deferred.Essai, 1);
  EXPECT_EQ(deferred.LastError, "10061: refused");
  ASSERT_EQ(Notices().size(), 1u);
  CMessage notice = Read("OutBox", Notices()[0]);
  EXPECT_TRUE(notice.ForSender);
  EXPECT_EQ(notice.RcptTo(1), "<sender@origin.test>");
  EXPECT_EQ(CnxOut(1).Status(), kOutFree);
  EXPECT_TRUE(form->outbox_timer.Enabled());
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
    ResetSlotPools();
    for (const char* f : {"OutBox", "Deferred", "Error"}) std::filesystem::remove_all(program.Path(f)), std::filesystem::create_directories(program.Path(f));
    Config().MaxNbrAttempt = c.max;
    Dispatch({"a.dest.test"}, c.essai, c.for_sender);
    form->distant.FireError(1, 10061, "refused");
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
  FileConfig().SmtpServerDefined = true;
  Queue("F1", {"<a@dest.test>"});
  VerifOutBox();
  ASSERT_EQ(form->distant.At(1).RemoteHost(), "smarthost.test");
  form->distant.FireError(1, 10061, "refused");
  EXPECT_EQ(MailLog().back(), std::string(kPrefix) + "1st connection failed (refused by peer) for smarthost.test [127.0.0.1], status=error, not return error neither deferred because there's no route available with the specified SMTP server");
  EXPECT_EQ(ErrorLog(), std::vector<std::string>{" F1 See log file at this time : The corresponding message is not routable => placed in the error directory"});
  EXPECT_EQ(Read("Error", "F1").LastError, "10061: refused");
  EXPECT_EQ(Files("OutBox"), std::vector<std::string>{});
  EXPECT_EQ(Files("Deferred"), std::vector<std::string>{});
  // A smarthost that answers "later" is reachable: its message waits.
  Queue("F2", {"<a@dest.test>"});
  VerifOutBox();
  form->distant.FireConnect(1);
  form->distant.Receive(1, "421 4.7.0 later\r\n");
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
  for (const Case& c : cases) {
    SCOPED_TRACE(c.replies);
    ResetSlotPools();
    Route("origin.test", {"mx.origin.test"});  // the bounce leaves at once, towards here
    Dispatch({"a.dest.test"}, 0, c.for_sender, {"<a@dest.test>", "<b@dest.test>", "<c@dest.test>"});
    form->distant.FireConnect(1);
    Converse(1, std::vector<std::string>(path.begin(), path.begin() + c.replies));
    // What follows the reply must not reach the bounce's session on this slot.
    form->distant.Receive(1, "550 5.1.1 no such user\r\n.\r\n421 x\r\n");
    // A bounce reloads the element at once, so QUIT is seen where it stays.
    if (c.for_sender) {
      EXPECT_EQ(form->distant.LastSent(1), "QUIT\r\n");
    }
    std::string tail = c.for_sender ? " status=error, not return error because it's already a return-error-mail: deny loop"
                                     : " status=error, return error to=<sender@origin.test>";
    EXPECT_EQ(MailLog().back(), kPrefix + std::string("Error 550 (550 5.1.1 no such user), error for=") + c.refused + tail);
    CMessage m = Read(c.folder, "F1");
    EXPECT_EQ(ErrorLog().size(), c.error_lines);
    if (!c.for_sender) {
      EXPECT_EQ(m.MRcptToCount(), 1);
      EXPECT_NE(m.Data.find("<c@dest.test>: 550 5.1.1 no such user"), std::string::npos);
    }
    if (!c.for_sender) {
      EXPECT_EQ(form->distant.At(1).RemoteHost(), "mx.origin.test");
    }
    std::filesystem::remove(program.Path(std::string(c.folder) + "/F1"));
  }
}

TEST_F(FailureTest, PeerCloseAndSilenceFailTheSessionLikeSocketErrors) {
  Dispatch({"a.dest.test", "b.dest.test", "c.dest.test"});
  now += kConnectLimitSeconds;
  CheckSessionLimits();  // exactly at the limit: still waiting
  EXPECT_EQ(MailLog(), std::vector<std::string>{});
  now += 1;
  CheckSessionLimits();  // connect too slow
  form->distant.FireConnect(1);
  form->distant.Receive(1, "220 hi\r\n");
  form->distant.FireClose(1);  // peer hangs up
  form->distant.FireConnect(1);
  now += kReplyLimitSeconds;
  CheckSessionLimits();  // no greeting yet, exactly at the limit
  now += 1;
  CheckSessionLimits();
  EXPECT_EQ(MailLog(), (std::vector<std::string>{
      std::string(kPrefix) + "connection failed (time out) for a.dest.test [127.0.0.1], status=trying other MX server, attempt=1",
      std::string(kPrefix) + "connect to b.dest.test [127.0.0.1]",
      std::string(kPrefix) + "connection failed (unknown reason: 10053) for b.dest.test [127.0.0.1], status=trying other MX server, attempt=1",
      std::string(kPrefix) + "connect to c.dest.test [127.0.0.1]",
      std::string(kPrefix) + "connection failed (time out) for c.dest.test [127.0.0.1], status=deferred, attempt=1"}));
  EXPECT_EQ(Read("Deferred", "F1").LastError, "10060: Connection timed out.");
}

}  // namespace
}  // namespace dorvane::testing
