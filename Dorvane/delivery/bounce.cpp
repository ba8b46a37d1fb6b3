#include "delivery/bounce.h"

#include <vector>

namespace dorvane {

std::string BounceText(const ReportedMessage& message, const NoticeStamp& stamp) {
  NoticeKind kind;
  kind.Subject = "Undelivered Mail Returned to Sender";
  kind.Action = "failed";
  kind.FirstPart = {
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
  };
  for (const std::string& line : RecipientErrorLines(message)) kind.FirstPart.push_back(line);
  kind.FirstPart.push_back("");
  return NoticeText(kind, message, stamp);
}

}  // namespace dorvane
