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

namespace {

// The OutBox file of `part`, named by its ID; noted in the debug log.
SpoolFile OutBoxFile(Logs& logs, const CMessage& part) {
  std::string path = SpoolPath(kOutBox, part.ID);
  if (logs.DebugOn()) logs.DbgAdd("<FONT face='Verdana' size='2'>" + GMTDate() + ": Ecriture de " + path + "</FONT><BR>");
  return {path, EncodeMessage(part)};
}

std::vector<SpoolFile> SplitFiles(Files& files, Logs& logs, Clock& clock, const CMessage& message,
                                  const std::set<std::string>& taken) {
  std::vector<std::vector<std::string>> groups = GroupRcptToByDomain(message);
  std::vector<SpoolFile> spool;
  CMessage part = message;  // carries every field but ID and recipients
  for (size_t g = 0; g < groups.size(); ++g) {
    part.ID = FreshSpoolName(files, clock, "-" + std::to_string(g), taken, NameCheck::kOtherFolders);
    std::vector<std::string> list{std::string()};
    list.insert(list.end(), groups[g].begin(), groups[g].end());
    part.SetRcptToList(std::move(list));
    spool.push_back(OutBoxFile(logs, part));
  }
  return spool;
}

void WriteAll(Files& files, const std::vector<SpoolFile>& spool) {
  WriteNewSpoolFiles(files, spool, "CLS:CMessage[MWrite]",
                     [&files](const std::string& folder) { return files.SyncFolder(folder); });
}

}  // namespace

std::vector<std::string> WriteSplitByDomain(Files& files, Logs& logs, Clock& clock, const CMessage& message) {
  std::vector<SpoolFile> spool = SplitFiles(files, logs, clock, message, {});
  WriteAll(files, spool);
  std::vector<std::string> ids;
  for (const SpoolFile& file : spool) ids.push_back(FileNameOf(file.path));
  return ids;
}

bool OutBoxHasRoom(Files& files, const CMessage& message) {
  std::optional<uint64_t> free = files.FreeBytes(ProgramPath(kOutBox));
  if (!free) return true;
  size_t count = message.MRcptToCount() > 1 ? GroupRcptToByDomain(message).size() : 1;
  return *free >= SpoolBytesNeeded(message.Data.size(), count);
}

std::vector<SpoolFile> OutBoxFiles(Files& files, Logs& logs, Clock& clock, CMessage& message,
                                   const std::set<std::string>& taken) {
  if (message.MRcptToCount() > 1) return SplitFiles(files, logs, clock, message, taken);
  message.ID = FreshSpoolName(files, clock, "", taken, NameCheck::kOtherFolders);
  return {OutBoxFile(logs, message)};
}

void QueueInOutBox(Files& files, Logs& logs, Clock& clock, CMessage& message) {
  WriteAll(files, OutBoxFiles(files, logs, clock, message));
}

}  // namespace dorvane
