#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "delivery/bounce.h"
#include "delivery/delay_notice.h"
#include "delivery/notice_text.h"

namespace dorvane {
namespace {

const std::string kBoundary = "--B36A337F60.1076950585/relay.home.test";

NoticeStamp Stamp(const std::string& host = "relay.home.test") {
  return NoticeStamp{host, "Feb 03 2026 09:05:07", " +0100", "20260203090507", "0A1B2C3D4E"};
}

ReportedMessage Failed() {
  ReportedMessage m;
  m.From = "<alice@home.test>";
  m.RcptTo = {"<bob@far.test>", "<carol@far.test>", "<dan@far.test>"};
  m.LastError = "550 5.1.1 mailbox unavailable";
  m.Essai = 2;
  m.Data = "Subject: hi\r\n\r\n.leading dot kept\r\nbye\r\n";
  return m;
}

// Compares a CR LF text with its expected lines one by one.
void ExpectLines(const std::string& text, const std::vector<std::string>& expected) {
  ASSERT_GE(text.size(), 2u);
  ASSERT_EQ(text.substr(text.size() - 2), "\r\n");
  std::vector<std::string> got;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find("\r\n", start);
    got.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  for (size_t i = 0; i < std::min(got.size(), expected.size()); ++i)
    EXPECT_EQ(got[i], expected[i]) << "line " << i + 1;
  EXPECT_EQ(got.size(), expected.size());
}

std::vector<std::string> Header(const std::string& subject, const std::string& host = "relay.home.test") {
  return {"From: MAILER-DAEMON@" + host + " (Mail Delivery System)",
          "Subject: " + subject,
          "To: <alice@home.test>",
          "MIME-Version: 1.0",
          "Content-Type: multipart/report; report-type=delivery-status;",
          "\tboundary = \"B36A337F60.1076950585/" + host + "\"",
          "Message-Id: <20260203090507.0A1B2C3D4E@" + host + ">",
          "X-Priority: 3 (Normal)",
          "X-MSMail-Priority: Normal",
          "X-Mailer: Dorvane 3.0 (https://dorvane.example/)",
          "Importance: Normal",
          "",
          "This is a MIME-encapsulated message.",
          ""};
}

std::vector<std::string> StatusAndReturnedParts(const std::string& action) {
  return {kBoundary,
          "Content-Description: Delivery error report",
          "Content-Type: message/delivery-status",
          "",
          "Reporting-MTA: relay.home.test",
          "Arrival-Date: Feb 03 2026 09:05:07 +0100",
          "",
          "Final-Recipient: rfc822; <bob@far.test>",
          "Final-Recipient: rfc822; <carol@far.test>",
          "Final-Recipient: rfc822; <dan@far.test>",
          "Action: " + action,
          "Diagnostic-Code: 550 5.1.1 mailbox unavailable",
          "",
          kBoundary,
          "Content-Description: Undelivered Message",
          "Content-Type: message/rfc822",
          "",
          "Subject: hi",
          "",
          ".leading dot kept",
          "bye",
          "",
          kBoundary + "--"};
}

std::vector<std::string> Join(std::vector<std::vector<std::string>> parts) {
  std::vector<std::string> all;
  for (auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST(Bounce, TextMatchesLineByLine) {
  std::vector<std::string> notice = {
      kBoundary,
      "Content-Description: Notification",
      "Content-Type: text/plain",
      "",
      "This is the Dorvane program at host relay.home.test.",
      "",
      "I'm sorry to have to inform you that the message returned",
      "below could not be delivered to one or more destinations.",
      "",
      "For further assistance, please send mail to <postmaster>",
      "",
      "If you do so, please include this problem report. You can",
      "delete your own text from the message returned below.",
      "",
      "            The Dorvane program",
      "",
      "<bob@far.test>: 550 5.1.1 mailbox unavailable",
      "<carol@far.test>: 550 5.1.1 mailbox unavailable",
      "<dan@far.test>: 550 5.1.1 mailbox unavailable",
      "",
  };
  ExpectLines(BounceText(Failed(), Stamp()),
              Join({Header("Undelivered Mail Returned to Sender"), notice, StatusAndReturnedParts("failed")}));
}

TEST(DelayNotice, TextMatchesLineByLine) {
  std::vector<std::string> notice = {
      kBoundary,
      "Content-Description: Notification",
      "Content-Type: text/plain",
      "",
      "This is the Dorvane program at host relay.home.test.",
      "",
      "- This is NOT a error issue.",
      "- This is only a notification about a delay in the delivery of your message.",
      "- There is no need to resend your message at this time.",
      "- The following recipients have not yet received your message:",
      "<bob@far.test>: 550 5.1.1 mailbox unavailable",
      "<carol@far.test>: 550 5.1.1 mailbox unavailable",
      "<dan@far.test>: 550 5.1.1 mailbox unavailable",
      "",
      "- The server will continue trying for up to 1 hour.",
      "",
      "It was the 2 attempt !",
      "I'll try again soon until 3 times",
      "The error returned was:",
      "",
      "550 5.1.1 mailbox unavailable",
      "",
      "For further assistance, please send mail to <postmaster>",
      "",
      "If you do so, please include this problem report. You can",
      "delete your own text from the message returned below.",
      "",
  };
  ExpectLines(DelayNoticeText(Failed(), Stamp()),
              Join({Header("Delivery Status Notification (Mail Delivery Delayed)"), notice,
                    StatusAndReturnedParts("delayed")}));
}

TEST(Notices, EmptyHostNameLeavesTheFixedPartsWellFormed) {
  ReportedMessage m = Failed();
  m.RcptTo = {"<bob@far.test>"};
  for (const std::string& text : {BounceText(m, Stamp("")), DelayNoticeText(m, Stamp(""))}) {
    std::vector<std::string> header = Header("", "");
    EXPECT_EQ(text.rfind(header[0] + "\r\n", 0), 0u);
    EXPECT_NE(text.find("\r\n\tboundary = \"B36A337F60.1076950585/\"\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\nMessage-Id: <20260203090507.0A1B2C3D4E@>\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\nReporting-MTA: \r\n"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 30), "\r\n--B36A337F60.1076950585/--\r\n");
  }
}

TEST(Notices, MessageIdsDifferWithinOneSecond) {
  std::time_t now = std::time(nullptr);
  NoticeStamp a = MakeNoticeStamp(now, RandomIdToken(), "h");
  NoticeStamp b = MakeNoticeStamp(now, RandomIdToken(), "h");
  EXPECT_EQ(a.SerialDate, b.SerialDate);
  EXPECT_NE(a.IdToken, b.IdToken);
  for (const std::string& token : {a.IdToken, b.IdToken, CurrentNoticeStamp().IdToken}) {
    EXPECT_EQ(token.size(), 10u) << token;
    EXPECT_EQ(token.find_first_not_of("0123456789ABCDEF"), std::string::npos) << token;
  }
}

TEST(Notices, ArrivalDateCarriesTheRealUtcOffset) {
  const char* saved = std::getenv("TZ");
  std::string old = saved ? saved : "";
  struct Case {
    const char* tz;
    std::time_t when;
    const char* date;
    const char* offset;
  };
  // 2026-01-15 12:00:00 UTC and 2026-07-15 12:00:00 UTC.
  const std::vector<Case> cases = {
      {"UTC0", 1768478400, "Jan 15 2026 12:00:00", " +0000"},
      {"CET-1CEST,M3.5.0,M10.5.0/3", 1768478400, "Jan 15 2026 13:00:00", " +0100"},
      {"CET-1CEST,M3.5.0,M10.5.0/3", 1784116800, "Jul 15 2026 14:00:00", " +0200"},
      {"NST+3:30", 1768478400, "Jan 15 2026 08:30:00", " -0330"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tz);
    setenv("TZ", c.tz, 1);
    tzset();
    NoticeStamp s = MakeNoticeStamp(c.when, "0000000000", "h");
    EXPECT_EQ(s.GmtDate, c.date);
    EXPECT_EQ(s.UtcOffset, c.offset);
    EXPECT_NE(BounceText(Failed(), s).find(std::string("\r\nArrival-Date: ") + c.date + c.offset + "\r\n"),
              std::string::npos);
  }
  if (saved) setenv("TZ", old.c_str(), 1); else unsetenv("TZ");
  tzset();
}

}  // namespace
}  // namespace dorvane
