#include "delivery/bounce.h"

#include <vector>

namespace dorvane {

std::string BounceText(const ReportedMessage& message, const NoticeStamp& stamp) {
  NoticeKind kind{"Undelivered Mail Returned to Sender",
                  {"I'm sorry to have to inform you that the message returned",
                   "below could not be delivered to one or more destinations.", ""},
                  "failed"};
  std::vector<std::string>& lines = kind.FirstPart;
  for (const std::string& line : AssistanceLines()) lines.push_back(line);
  lines.push_back("            The Dorvane program");
  lines.push_back("");
  for (const std::string& line : RecipientErrorLines(message)) lines.push_back(line);
  lines.push_back("");
  return NoticeText(kind, message, stamp);
}

}  // namespace dorvane
