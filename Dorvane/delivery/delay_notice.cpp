#include "delivery/delay_notice.h"

#include <cerrno>
#include <vector>

#include "base/files.h"
#include "base/runtime_error.h"
#include "config/configuration.h"
#include "delivery/notice_message.h"
#include "log/guard.h"
#include "relay/environment.h"
#include "spool/message.h"
#include "spool/random_file.h"
#include "spool/spool_file.h"

namespace dorvane {

std::string DelayNoticeText(const ReportedMessage& message, const NoticeStamp& stamp) {
  NoticeKind kind{"Delivery Status Notification (Mail Delivery Delayed)",
                  {"- This is NOT a error issue.",
                   "- This is only a notification about a delay in the delivery of your message.",
                   "- There is no need to resend your message at this time.",
                   "- The following recipients have not yet received your message:"},
                  "delayed"};
  std::vector<std::string>& lines = kind.FirstPart;
  for (const std::string& line : RecipientErrorLines(message)) lines.push_back(line);
  // The figures are fixed texts, whatever AttemptDelay and MaxNbrAttempt say.
  const std::vector<std::string> attempt = {
      "", "- The server will continue trying for up to 1 hour.", "",
      "It was the " + std::to_string(message.Essai) + " attempt !",
      "I'll try again soon until 3 times", "The error returned was:", "", message.LastError, ""};
  lines.insert(lines.end(), attempt.begin(), attempt.end());
  for (const std::string& line : AssistanceLines()) lines.push_back(line);
  return NoticeText(kind, message, stamp);
}

std::string GenerateDeferred(Environment& env, const std::string& file) {
  const char* where = "CLS:GENERATEDEFERREDMAIL[GenerateDeferred]";
  return Guard(where, [&] {
    CMessage message = LoadOutBoxMessage(env.files, env.logs, file, where);
    TurnIntoNotice(message, DelayNoticeText(ReportedFrom(message), CurrentNoticeStamp(env.clock, env.settings.host_name)));
    message.ID = FreshSpoolName(env.files, env.clock);
    message.MWrite(env.files, env.logs, SpoolPath(kOutBox, message.ID));
    const int err = env.files.Remove(SpoolPath(kOutBox, file));
    if (err != 0 && err != ENOENT) Raise(kErrPermissionDenied, where, ErrorDescription(kErrPermissionDenied) + ": " + file);
    return message.ID;
  });
}

}  // namespace dorvane
