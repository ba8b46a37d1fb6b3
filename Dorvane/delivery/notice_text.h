// The parts shared by the two delivery status notifications (the bounce and
// the delay notice): a MIME multipart/report message with a header, a
// human-readable first part, a delivery-status part and the returned
// message. Pure text building over byte strings; no files, no clock.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace dorvane {

// The fields of the message a notification reports on.
struct ReportedMessage {
  std::string From;                 // envelope sender, as stored
  std::vector<std::string> RcptTo;  // recipients 1 to n, in order
  std::string LastError;            // shared by every recipient
  uint8_t Essai = 0;                // attempts made so far
  std::string Data;                 // the message text, as stored
};

// Everything in a notification that depends on the moment and the computer.
struct NoticeStamp {
  std::string HostName;    // the computer's host name
  std::string GmtDate;     // GMTDate form: "Dec 06 2026 19:52:52"
  std::string UtcOffset;   // " +hhmm" / " -hhmm" at that moment
  std::string SerialDate;  // fourteen digits of the same moment
  std::string IdToken;     // ten upper-case hexadecimal digits, fresh each time
};

class Clock;

// Ten random upper-case hexadecimal digits (leading zeros kept), drawn from
// the clock's random numbers.
std::string RandomIdToken(Clock& clock);

// The stamp for local time `now` with the given token and host name.
NoticeStamp MakeNoticeStamp(std::time_t now, std::string id_token, std::string host_name);

// The stamp for the clock's present moment, a fresh token and `host_name`.
NoticeStamp CurrentNoticeStamp(Clock& clock, const std::string& host_name);

// Which notification is being written.
struct NoticeKind {
  std::string Subject;                  // header line 2, after "Subject: "
  std::vector<std::string> FirstPart;   // lines after the "This is the ... host" line and its empty line
  std::string Action;                   // "failed" or "delayed"
};

// The whole notification text in the form it takes after DATA (and in its
// spool file): CR LF line ends, lines of its own that start with "." doubled,
// the returned message as stored.
std::string NoticeText(const NoticeKind& kind, const ReportedMessage& message,
                       const NoticeStamp& stamp);

// The five lines asking to write to the postmaster, the last one empty.
std::vector<std::string> AssistanceLines();

// "<recipient>: <LastError>" for each recipient, in order.
std::vector<std::string> RecipientErrorLines(const ReportedMessage& message);

}  // namespace dorvane
