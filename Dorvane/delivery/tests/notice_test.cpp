#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "base/clock.h"
#include "delivery/bounce.h"
#include "delivery/delay_notice.h"
#include "delivery/wire_text.h"

namespace dorvane {
namespace {

using Lines = std::vector<std::string>;
const std::string kBoundary = "--B36A337F60.1076950585/relay.home.test";

NoticeStamp Stamp(const std::string& host = "relay.home.test") {
  return NoticeStamp{host, "Feb 03 2026 09:05:07", " +0100", "20260203090507", "0A1B2C3D4E"};
}

ReportedMessage Failed() {
  return ReportedMessage{"<alice@home.test>",
                         {"<bob@far.test>", "<carol@far.test>", "<dan@far.test>"},
                         "550 5.1.1 mailbox unavailable",
                         2,
                         "Subject: hi\r\n\r\n.leading dot kept\r\nbye\r\n"};
}

// Splits a CR LF text into its lines; the text must end with CR LF.
Lines Split(const std::string& text) {
  Lines got;
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
  for (size_t start = 0, end; start < text.size(); start = end + 2) {
    end = text.find("\r\n", start);
    got.push_back(text.substr(start, end - start));
  }
  return got;
}

// The expected notice: the header, the first part (intro, then `body`), the
// delivery-status part with `action` and the returned message.
Lines Expected(const std::string& subject, const Lines& body, const std::string& action) {
  Lines all = {"From: MAILER-DAEMON@relay.home.test (Mail Delivery System)",
               "Subject: " + subject,
               "To: <alice@home.test>",
               "MIME-Version: 1.0",
               "Content-Type: multipart/report; report-type=delivery-status;",
               "\tboundary = \"B36A337F60.1076950585/relay.home.test\"",
               "Message-Id: <20260203090507.0A1B2C3D4E@relay.home.test>",
               "X-Priority: 3 (Normal)",
               "X-MSMail-Priority: Normal",
               "X-Mailer: Dorvane 3.0 (https://dorvane.example/)",
               "Importance: Normal",
               "",
               "This is a MIME-encapsulated message.",
               "",
               kBoundary,
               "Content-Description: Notification",
               "Content-Type: text/plain",
               "",
               "This is the Dorvane program at host relay.home.test.",
               ""};
  all.insert(all.end(), body.begin(), body.end());
  Lines rest = {kBoundary, "Content-Description: Delivery error report",
                "Content-Type: message/delivery-status", "", "Reporting-MTA: relay.home.test",
                "Arrival-Date: Feb 03 2026 09:05:07 +0100", "",
                "Final-Recipient: rfc822; <bob@far.test>", "Final-Recipient: rfc822; <carol@far.test>",
                "Final-Recipient: rfc822; <dan@far.test>", "Action: " + action,
                "Diagnostic-Code: 550 5.1.1 mailbox unavailable", "",
                kBoundary, "Content-Description: Undelivered Message", "Content-Type: message/rfc822", "",
                "Subject: hi", "", ".leading dot kept", "bye", "", kBoundary + "--"};
  all.insert(all.end(), rest.begin(), rest.end());
  return all;
}

const Lines kErrors = {"<bob@far.test>: 550 5.1.1 mailbox unavailable",
                       "<carol@far.test>: 550 5.1.1 mailbox unavailable",
                       "<dan@far.test>: 550 5.1.1 mailbox unavailable"};
const Lines kAssistance = {"For further assistance, please send mail to <postmaster>", "",
                           "If you do so, please include this problem report. You can",
                           "delete your own text from the message returned below.", ""};

TEST(Notices, TextsMatchLineByLine) {
  Lines bounce = {"I'm sorry to have to inform you that the message returned",
                  "below could not be delivered to one or more destinations.", ""};
  bounce.insert(bounce.end(), kAssistance.begin(), kAssistance.end());
  bounce.insert(bounce.end(), {"            The Dorvane program", ""});
  bounce.insert(bounce.end(), kErrors.begin(), kErrors.end());
  bounce.push_back("");
  EXPECT_EQ(Split(BounceText(Failed(), Stamp())),
            Expected("Undelivered Mail Returned to Sender", bounce, "failed"));

  Lines delay = {"- This is NOT a error issue.",
                 "- This is only a notification about a delay in the delivery of your message.",
                 "- There is no need to resend your message at this time.",
                 "- The following recipients have not yet received your message:"};
  delay.insert(delay.end(), kErrors.begin(), kErrors.end());
  delay.insert(delay.end(), {"", "- The server will continue trying for up to 1 hour.", "",
                             "It was the 2 attempt !", "I'll try again soon until 3 times",
                             "The error returned was:", "", "550 5.1.1 mailbox unavailable", ""});
  delay.insert(delay.end(), kAssistance.begin(), kAssistance.end());
  EXPECT_EQ(Split(DelayNoticeText(Failed(), Stamp())),
            Expected("Delivery Status Notification (Mail Delivery Delayed)", delay, "delayed"));
}

// An old spool file may hold a multi-line LastError or a damaged text:
// neither may end the notice's text early once it is sent.
TEST(Notices, NoticesAreInWireFormWhateverTheirFieldsHold) {
  ReportedMessage failed = Failed();
  failed.LastError = "550 no\r\n.\r\nMAIL FROM:<ceo@bank.test>\r.dot";
  failed.Data = "Subject: q\n.\nRSET\r\n";
  for (const std::string& text : {BounceText(failed, Stamp()), DelayNoticeText(failed, Stamp())}) {
    EXPECT_TRUE(IsWireSafe(text)) << text;
    EXPECT_NE(text.find("\r\n..\r\nMAIL FROM:<ceo@bank.test>\r\n..dot\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\r\nSubject: q\r\n..\r\nRSET\r\n"), std::string::npos) << text;
  }
}

TEST(Notices, EmptyHostNameLeavesTheFixedPartsWellFormed) {
  Lines lines = Split(BounceText(Failed(), Stamp("")));
  EXPECT_EQ(lines[0], "From: MAILER-DAEMON@ (Mail Delivery System)");
  EXPECT_EQ(lines[5], "\tboundary = \"B36A337F60.1076950585/\"");
  EXPECT_EQ(lines[6], "Message-Id: <20260203090507.0A1B2C3D4E@>");
  EXPECT_EQ(lines.back(), "--B36A337F60.1076950585/--");
}

TEST(Notices, EachNoticeGetsItsOwnMessageId) {
  std::time_t now = std::time(nullptr);
  SystemClock clock;
  NoticeStamp a = MakeNoticeStamp(now, RandomIdToken(clock), "h"), b = CurrentNoticeStamp(clock, "h");
  EXPECT_NE(a.IdToken, b.IdToken);
  for (const std::string& token : {a.IdToken, b.IdToken}) {
    EXPECT_EQ(token.size(), 10u) << token;
    EXPECT_EQ(token.find_first_not_of("0123456789ABCDEF"), std::string::npos) << token;
  }
}

TEST(Notices, ArrivalDateCarriesTheRealUtcOffset) {
  const char* saved = std::getenv("TZ");
  std::string old = saved ? saved : "";
  struct Case {
    const char* tz;
    std::time_t when;  // 2026-01-15 or 2026-07-15, 12:00:00 UTC
    const char* arrival;
  };
  for (const Case& c : {Case{"CET-1CEST,M3.5.0,M10.5.0/3", 1768478400, "Jan 15 2026 13:00:00 +0100"},
                        Case{"CET-1CEST,M3.5.0,M10.5.0/3", 1784116800, "Jul 15 2026 14:00:00 +0200"},
                        Case{"NST+3:30", 1768478400, "Jan 15 2026 08:30:00 -0330"}}) {
    setenv("TZ", c.tz, 1);
    tzset();
    Lines lines = Split(DelayNoticeText(Failed(), MakeNoticeStamp(c.when, "0000000000", "h")));
    auto arrival = std::find_if(lines.begin(), lines.end(), [](auto& l) { return l.rfind("Arrival-Date:", 0) == 0; });
    ASSERT_NE(arrival, lines.end());
    EXPECT_EQ(*arrival, std::string("Arrival-Date: ") + c.arrival) << c.tz;
  }
  saved ? setenv("TZ", old.c_str(), 1) : unsetenv("TZ");
  tzset();
}

}  // namespace
}  // namespace dorvane
