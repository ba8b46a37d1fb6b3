#include "delivery/notice_message.h"

#include <utility>

#include "base/files.h"
#include "base/runtime_error.h"
#include "spool/message.h"
#include "spool/spool_file.h"

namespace dorvane {

CMessage LoadOutBoxMessage(Files& files, Logs& logs, const std::string& file, const std::string& source) {
  const std::string path = SpoolPath(kOutBox, file);
  if (!files.IsFile(path))
    Raise(kErrFileNotFound, source, ErrorDescription(kErrFileNotFound) + ": " + path);
  CMessage message;
  message.MOpen(files, logs, path);
  return message;
}

ReportedMessage ReportedFrom(const CMessage& message) {
  const std::vector<std::string>& list = message.RcptToList();
  return ReportedMessage{message.From, std::vector<std::string>(list.begin() + 1, list.end()),
                         message.LastError, message.Essai, message.Data};
}

void TurnIntoNotice(CMessage& message, std::string text) {
  message.Data = std::move(text);
  message.OneRcptTo();
  message.SetRcptTo(1, message.From);
  message.Essai = 0;
  message.ForSender = true;
}

}  // namespace dorvane
