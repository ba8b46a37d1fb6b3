// Failed attempts: next exchanger, deferral, bounce, Error folder.
#include <gtest/gtest.h>

#include <filesystem>

#include "base/program.h"
#include "base/socket_control.h"
#include "config/configuration.h"
#include "config/smtp_secret.h"
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
  // Mail goes through smarthost.test:587 with `security`, logging in as
  // me@home.test with `password` in a private Dorvane.secret.
  void Smarthost(const char* security, const std::string& password = "s3cret pass") {
    test.settings.file.SmtpServerDefined = true;
    test.settings.running.SmtpPort = 587;
    test.settings.running.SmtpSecurity = security;
    test.settings.running.SmtpUser = "me@home.test";
    ASSERT_EQ(WriteSmtpSecret(test.files, password), 0);
    refuse_ehlo = false;
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

TEST_F(FailureTest, SmarthostTakesTheMessageInsideTlsAfterTheLoginThatNoLogShows) {
  struct Case {
    const char* security;
    std::vector<std::string> plain;   // replies before the handshake
    std::vector<std::string> inside;  // replies once TLS is up
    std::vector<std::string> sent;    // the commands before MAIL FROM
  };
  const std::vector<std::string> rest = {"250 ok\r\n", "250 ok\r\n", "354 go\r\n", "250 done\r\n"};
  const Case cases[] = {
      {kSecurityStartTls, {"220 smtp\r\n", "250-smtp\r\n250 STARTTLS\r\n", "220 go\r\n"},
       {"250-smtp\r\n250-AUTH LOGIN PLAIN\r\n250 8BITMIME\r\n", "235 ok\r\n"},
       {"EHLO relay.test\r\n", "STARTTLS\r\n", "EHLO relay.test\r\n",
        "AUTH PLAIN AG1lQGhvbWUudGVzdABzM2NyZXQgcGFzcw==\r\n"}},
      {kSecurityTls, {},
       {"220 smtp\r\n", "250-smtp\r\n250 AUTH=LOGIN\r\n", "334 VXNlcm5hbWU6\r\n", "334 UGFzc3dvcmQ6\r\n", "235 ok\r\n"},
       {"EHLO relay.test\r\n", "AUTH LOGIN\r\n", "bWVAaG9tZS50ZXN0\r\n", "czNjcmV0IHBhc3M=\r\n"}},
  };
  test.settings.running.DebugMode = true;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.security);
    Reset();
    Smarthost(c.security);
    Queue("F1", {"<a@dest.test>"});
    queue().VerifOutBox();
    EXPECT_EQ(form.distant.At(1).RemotePort(), 587);
    form.distant.FireConnect(1);
    Converse(1, c.plain);
    ASSERT_EQ(form.distant.At(1).tls_starts.size(), 1u);
    EXPECT_EQ(form.distant.At(1).tls_starts[0].host_name, "smarthost.test");
    EXPECT_TRUE(form.distant.At(1).tls_starts[0].verify);
    // Plain bytes while the handshake runs are no reply, whole or in part.
    form.distant.Receive(1, "250-smtp\r\n250 AUTH PLAIN\r\n235 ok\r\n250");
    form.distant.FireTlsReady(1);
    Converse(1, c.inside);
    Converse(1, rest);
    std::vector<std::string> sent = c.sent;
    sent.insert(sent.end(), {"MAIL FROM: <sender@origin.test>\r\n", "RCPT TO: <a@dest.test>\r\n", "DATA\r\n",
                             "Subject: hello\r\n\r\nbody line\r\n.\r\n", "QUIT\r\n"});
    EXPECT_EQ(Sent(1), sent);
    EXPECT_EQ(Files("OutBox"), std::vector<std::string>{});
    EXPECT_EQ(MailLog()[1], std::string(kPrefix) + "tls=TLSv1.3 TLS_AES_256_GCM_SHA384, relay=smarthost.test [127.0.0.1]");
    for (const char* log : {"Debug.html", "maillog.txt", "error.txt"}) {
      const std::string text = std::filesystem::exists(test.program.Path(log)) ? test.program.Read(log) : "";
      for (const char* secret : {"s3cret", "czNjcmV0", "AG1lQGhvbWUudGVzdABzM2NyZXQgcGFzcw"})
        EXPECT_EQ(text.find(secret), std::string::npos) << log << " shows " << secret;
    }
  }
  EXPECT_NE(test.program.Read("Debug.html").find("****"), std::string::npos);
}

// What fails for now (no TLS on offer, a failed handshake) takes the usual
// deferral with the server's words; MAIL FROM never leaves in plain.
TEST_F(FailureTest, SmarthostWithoutWorkingTlsDefersTheMessage) {
  struct Case {
    const char* security;
    std::vector<std::string> replies;
    bool handshake_fails;
    const char* reason;
  };
  const Case cases[] = {
      {kSecurityStartTls, {"220 smtp\r\n", "250-smtp hi\r\n250 AUTH PLAIN\r\n"}, false,
       "STARTTLS not offered (250-smtp hi)"},
      {kSecurityStartTls, {"220 smtp\r\n", "250-smtp\r\n250 STARTTLS\r\n", "220 go\r\n"}, true,
       "40500: certificate verify failed"},
      {kSecurityTls, {}, true, "40500: certificate verify failed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    Reset();
    Smarthost(c.security);
    Queue("F1", {"<a@dest.test>"});
    queue().VerifOutBox();
    form.distant.FireConnect(1);
    Converse(1, c.replies);
    if (c.handshake_fails) form.distant.FireError(1, kTlsFailure, "certificate verify failed");
    for (const std::string& command : Sent(1)) EXPECT_FALSE(command.starts_with("MAIL")) << command;
    EXPECT_EQ(MailLog().back(), std::string(kPrefix) + "connection failed (" + c.reason +
                                    ") for smarthost.test [127.0.0.1], status=deferred, attempt=1");
    EXPECT_EQ(Read("Deferred", "F1").LastError, c.reason);
    EXPECT_EQ(Notices().size(), 1u);  // the delay notice
    EXPECT_EQ(Out(1).Status(), kOutFree);
  }
}

// A refused login is the settings' fault: the message waits without using
// up its attempts, never bounces, and leaves once the password is mended.
TEST_F(FailureTest, RefusedLoginKeepsTheMessageWaitingUntilThePasswordIsMended) {
  const std::vector<std::string> to_login = {"220 smtp\r\n", "250-smtp\r\n250 STARTTLS\r\n", "220 go\r\n"};
  const std::string offered = "250-smtp\r\n250 AUTH PLAIN\r\n";
  auto attempt = [&](const std::vector<std::string>& inside) {
    queue().VerifOutBox();
    form.distant.FireConnect(1);
    Converse(1, to_login);
    form.distant.FireTlsReady(1);
    Converse(1, inside);
  };
  Smarthost(kSecurityStartTls, "wrong");
  Queue("F1", {"<a@dest.test>"}, 3);  // a fourth failed attempt would bounce it
  attempt({offered, "535 5.7.8 bad credentials\r\n"});
  EXPECT_EQ(MailLog().back(), std::string(kPrefix) + "authentication failed (535 5.7.8 bad credentials) for "
                                                     "smarthost.test [127.0.0.1], status=deferred");
  EXPECT_EQ(ErrorLog(), std::vector<std::string>{" F1 authentication failed (535 5.7.8 bad credentials) with smarthost.test"});
  EXPECT_EQ(Read("Deferred", "F1").Essai, 3);
  EXPECT_EQ(Files("OutBox"), std::vector<std::string>{});  // no bounce, no delay notice
  EXPECT_EQ(form.shell.tray_notices, std::vector<std::string>{"Dorvane: authentication failed (535 5.7.8 bad credentials)"});

  // A password file others may read is not used at all.
  std::filesystem::permissions(test.program.Path("Dorvane.secret"), std::filesystem::perms::group_read,
                               std::filesystem::perm_options::add);
  queue().Flush();
  attempt({offered});
  for (const std::string& command : Sent(1)) EXPECT_FALSE(command.starts_with("AUTH")) << command;
  EXPECT_EQ(MailLog().back(), std::string(kPrefix) +
                                  "authentication failed (Dorvane.secret may be read by others (mode 0640): chmod 600 "
                                  "Dorvane.secret) for smarthost.test [127.0.0.1], status=deferred");
  EXPECT_EQ(Read("Deferred", "F1").Essai, 3);
  EXPECT_EQ(form.shell.tray_notices.size(), 1u);  // once per run

  std::filesystem::remove(test.program.Path("Dorvane.secret"));
  ASSERT_EQ(WriteSmtpSecret(test.files, "right"), 0);
  queue().Flush();
  attempt({offered, "235 ok\r\n", "250 ok\r\n", "250 ok\r\n", "354 go\r\n", "250 done\r\n"});
  EXPECT_EQ(Files("OutBox"), std::vector<std::string>{});
  EXPECT_EQ(Files("Deferred"), std::vector<std::string>{});
  EXPECT_NE(MailLog()[MailLog().size() - 1].find("status=sent"), std::string::npos);
}

// Opportunistic TLS with exchangers: a stalled handshake is a time-out like
// any other, a failed one gets the message in plain from the same host,
// once.
TEST_F(FailureTest, ExchangerWhoseHandshakeFailsGetsTheMessageInPlainOnce) {
  refuse_ehlo = false;
  const std::vector<std::string> to_tls = {"220 mx\r\n", "250-mx\r\n250 STARTTLS\r\n", "220 go\r\n"};
  Dispatch({"a.dest.test", "b.dest.test"});
  form.distant.FireConnect(1);
  Converse(1, to_tls);
  test.clock.Advance(kReplyLimitSeconds + 1);
  test.loop.TickTimers();  // a handshake that never ends
  EXPECT_EQ(form.distant.At(1).RemoteHost(), "b.dest.test");
  form.distant.FireConnect(1);
  Converse(1, to_tls);
  form.distant.FireError(1, kTlsFailure, "wrong version number");
  EXPECT_EQ(form.distant.At(1).RemoteHost(), "b.dest.test");
  EXPECT_EQ(form.distant.ConnectCount(1), 3);
  EXPECT_EQ(form.distant.At(1).tls_starts.size(), 2u);
  EXPECT_FALSE(form.distant.At(1).tls_starts[1].verify);
  EXPECT_EQ(form.distant.At(1).tls_starts[1].host_name, "b.dest.test");
  form.distant.FireConnect(1);
  Converse(1, {"220 mx\r\n", "250-mx\r\n250 STARTTLS\r\n", "250 ok\r\n", "250 ok\r\n", "354 go\r\n",
               "250 done\r\n"});
  const std::vector<std::string> sent(Sent(1).end() - 7, Sent(1).end());
  EXPECT_EQ(sent, (std::vector<std::string>{"STARTTLS\r\n", "EHLO relay.test\r\n", "MAIL FROM: <sender@origin.test>\r\n",
                                            "RCPT TO: <a@dest.test>\r\n", "DATA\r\n",
                                            "Subject: hello\r\n\r\nbody line\r\n.\r\n", "QUIT\r\n"}));
  EXPECT_EQ(Files("OutBox"), std::vector<std::string>{});
  EXPECT_EQ(MailLog(), (std::vector<std::string>{
      std::string(kPrefix) + "connect to a.dest.test [127.0.0.1]",
      std::string(kPrefix) + "connection failed (time out) for a.dest.test [127.0.0.1], status=trying other MX server, attempt=1",
      std::string(kPrefix) + "connect to b.dest.test [127.0.0.1]",
      std::string(kPrefix) + "TLS failed (40500: wrong version number) for b.dest.test [127.0.0.1], status=trying again in plain",
      std::string(kPrefix) + "connect to b.dest.test [127.0.0.1]",
      std::string(kPrefix) + "to=<a@dest.test>, relay=b.dest.test [127.0.0.1], status=sent (250 done)"}));
}

}  // namespace
}  // namespace dorvane::testing
