#include "delivery/delay_notice.h"

#include <vector>

namespace dorvane {

std::string DelayNoticeText(const ReportedMessage& message, const NoticeStamp& stamp) {
  NoticeKind kind;
  kind.Subject = "Delivery Status Notification (Mail Delivery Delayed)";
  kind.Action = "delayed";
  kind.FirstPart = {
      "- This is NOT a error issue.",
      "- This is only a notification about a delay in the delivery of your message.",
      "- There is no need to resend your message at this time.",
      "- The following recipients have not yet received your message:",
  };
  for (const std::string& line : RecipientErrorLines(message)) kind.FirstPart.push_back(line);
  // The figures are fixed texts, whatever AttemptDelay and MaxNbrAttempt say.
  const std::vector<std::string> rest = {
      "",
      "- The server will continue trying for up to 1 hour.",
      "",
      "It was the " + std::to_string(message.Essai) + " attempt !",
      "I'll try again soon until 3 times",
      "The error returned was:",
      "",
      message.LastError,
      "",
      "For further assistance, please send mail to <postmaster>",
      "",
      "If you do so, please include this problem report. You can",
      "delete your own text from the message returned below.",
      "",
  };
  kind.FirstPart.insert(kind.FirstPart.end(), rest.begin(), rest.end());
  return NoticeText(kind, message, stamp);
}

}  // namespace dorvane
