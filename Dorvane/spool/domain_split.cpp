#include "spool/domain_split.h"

#include "base/clock.h"
#include "base/dates.h"
#include "base/files.h"
#include "base/program.h"
#include "base/runtime_error.h"
#include "log/logs.h"
#include "spool/free_space.h"
#include "spool/message_format.h"
#include "spool/random_file.h"
#include "spool/spool_file.h"

namespace dorvane {

std::string GetDomain(const std::string& address) {
  size_t at = address.find('@');
  if (at == std::string::npos || at + 1 >= address.size())
    Raise(kErrInvalidCall, "MOD:MODSpool[GetDomain]", ErrorDescription(kErrInvalidCall));
  return address.substr(at + 1, address.size() - at - 2);
}

std::vector<std::vector<std::string>> GroupRcptToByDomain(const CMessage& message) {
  std::vector<std::string> domains;
  std::vector<std::vector<std::string>> groups;
  for (int i = 1; i <= message.MRcptToCount(); ++i) {
    const std::string& rcpt = message.RcptTo(i);
    std::string domain = GetDomain(rcpt);
    size_t g = 0;
    while (g < domains.size() && domains[g] != domain) ++g;
    if (g == domains.size()) {
      domains.push_back(domain);
      groups.emplace_back();
    }
    groups[g].push_back(rcpt);
  }
  return groups;
}

std::vector<std::string> WriteSplitByDomain(Files& files, Logs& logs, Clock& clock, const CMessage& message) {
  std::vector<std::vector<std::string>> groups = GroupRcptToByDomain(message);
  SpoolWriteBatch batch(files, "CLS:CMessage[MWrite]");
  std::vector<std::string> ids;
  CMessage part = message;  // carries every field but ID and recipients
  for (size_t g = 0; g < groups.size(); ++g) {
    part.ID = FreshSpoolName(files, clock, "-" + std::to_string(g));
    std::vector<std::string> list{std::string()};
    list.insert(list.end(), groups[g].begin(), groups[g].end());
    part.SetRcptToList(std::move(list));
    std::string path = SpoolPath(kOutBox, part.ID);
    logs.DbgAdd("<FONT face='Verdana' size='2'>" + GMTDate() + ": Ecriture de " + path + "</FONT><BR>");
    batch.Stage(path, EncodeMessage(part));
    ids.push_back(part.ID);
  }
  batch.Commit();
  return ids;
}

bool OutBoxHasRoom(Files& files, const CMessage& message) {
  std::optional<uint64_t> free = files.FreeBytes(ProgramPath(kOutBox));
  if (!free) return true;
  size_t count = message.MRcptToCount() > 1 ? GroupRcptToByDomain(message).size() : 1;
  return *free >= SpoolBytesNeeded(message.Data.size(), count);
}

std::vector<std::string> QueueInOutBox(Files& files, Logs& logs, Clock& clock, CMessage& message) {
  if (message.MRcptToCount() > 1) return WriteSplitByDomain(files, logs, clock, message);
  message.ID = FreshSpoolName(files, clock);
  message.MWrite(files, logs, SpoolPath(kOutBox, message.ID));
  return {message.ID};
}

}  // namespace dorvane
