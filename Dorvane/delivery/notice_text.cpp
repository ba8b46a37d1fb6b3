#include "delivery/notice_text.h"

#include <utility>

#include "base/clock.h"
#include "base/dates.h"
#include "base/program.h"
#include "config/configuration.h"
#include "delivery/wire_text.h"

namespace dorvane {
namespace {

const char kCrLf[] = "\r\n";
const char kBoundaryStem[] = "B36A337F60.1076950585/";
const char kWebAddress[] = "https://dorvane.example/";

// Appends each line in wire form: a line may carry texts from a message
// or a server (an old LastError, an address), which must neither end the
// notice early nor add lines of their own that SMTP would act on.
class Lines {
 public:
  Lines& operator<<(const std::string& line) {
    text_ += ToWireLines(line);
    return *this;
  }
  // The returned message, already in wire form when it is whole; a damaged
  // one is put into it like the relay's own text.
  Lines& Quote(const std::string& data) {
    text_ += IsWireSafe(data) ? data : ToWireLines(data);
    text_ += kCrLf;
    return *this;
  }
  Lines& operator<<(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) *this << line;
    return *this;
  }
  std::string Take() { return std::move(text_); }

 private:
  std::string text_;
};

}  // namespace

std::string RandomIdToken(Clock& clock) {
  static const char kHex[] = "0123456789ABCDEF";
  uint64_t bits = (static_cast<uint64_t>(clock.Random()) << 32) | clock.Random();
  std::string token(10, '0');
  for (char& c : token) {
    c = kHex[bits & 0xF];
    bits >>= 4;
  }
  return token;
}

NoticeStamp MakeNoticeStamp(std::time_t now, std::string id_token, std::string host_name) {
  std::tm local{};
  localtime_r(&now, &local);
  return NoticeStamp{std::move(host_name), GMTDateAt(local), UtcOffsetText(now), SerialDateAt(local),
                     std::move(id_token)};
}

NoticeStamp CurrentNoticeStamp(Clock& clock, const std::string& host_name) {
  return MakeNoticeStamp(clock.Now(), RandomIdToken(clock), host_name);
}

std::vector<std::string> AssistanceLines() {
  return {"For further assistance, please send mail to <postmaster>", "",
          "If you do so, please include this problem report. You can",
          "delete your own text from the message returned below.", ""};
}

std::vector<std::string> RecipientErrorLines(const ReportedMessage& message) {
  std::vector<std::string> lines;
  for (const std::string& rcpt : message.RcptTo) lines.push_back(rcpt + ": " + message.LastError);
  return lines;
}

std::string NoticeText(const NoticeKind& kind, const ReportedMessage& message,
                       const NoticeStamp& stamp) {
  const std::string host = stamp.HostName;
  const std::string boundary = "--" + std::string(kBoundaryStem) + host;
  Lines out;
  out << "From: MAILER-DAEMON@" + host + " (Mail Delivery System)"
      << "Subject: " + kind.Subject
      << "To: " + message.From
      << "MIME-Version: 1.0"
      << "Content-Type: multipart/report; report-type=delivery-status;"
      << "\tboundary = \"" + std::string(kBoundaryStem) + host + "\""
      << "Message-Id: <" + stamp.SerialDate + "." + stamp.IdToken + "@" + host + ">"
      << "X-Priority: 3 (Normal)"
      << "X-MSMail-Priority: Normal"
      << "X-Mailer: Dorvane " + VersionText() + " (" + kWebAddress + ")"
      << "Importance: Normal"
      << ""
      << "This is a MIME-encapsulated message."
      << "";
  out << boundary
      << "Content-Description: Notification"
      << "Content-Type: text/plain"
      << ""
      << "This is the Dorvane program at host " + host + "."
      << ""
      << kind.FirstPart;
  out << boundary
      << "Content-Description: Delivery error report"
      << "Content-Type: message/delivery-status"
      << ""
      << "Reporting-MTA: " + host
      << "Arrival-Date: " + stamp.GmtDate + stamp.UtcOffset
      << "";
  for (const std::string& rcpt : message.RcptTo) out << "Final-Recipient: rfc822; " + rcpt;
  out << "Action: " + kind.Action
      << "Diagnostic-Code: " + message.LastError
      << "";
  out << boundary
      << "Content-Description: Undelivered Message"
      << "Content-Type: message/rfc822"
      << "";
  out.Quote(message.Data)
      << boundary + "--";
  return out.Take();
}

}  // namespace dorvane
