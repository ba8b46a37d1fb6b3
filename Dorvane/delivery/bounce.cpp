#include "delivery/bounce.h"

#include <vector>

#include "base/runtime_error.h"
#include "config/configuration.h"
#include "delivery/notice_message.h"
#include "log/guard.h"
#include "relay/environment.h"
#include "spool/message.h"
#include "spool/spool_file.h"

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

void GenerateError(Environment& env, const std::string& file) {
  const char* where = "CLS:CLASS[GenerateError]";
  Guard(where, [&] {
    CMessage message = LoadOutBoxMessage(env.files, env.logs, file, where);
    TurnIntoNotice(message, BounceText(ReportedFrom(message), CurrentNoticeStamp(env.clock, env.settings.host_name)));
    message.MWrite(env.files, env.logs, SpoolPath(kOutBox, file));
  });
}

}  // namespace dorvane
