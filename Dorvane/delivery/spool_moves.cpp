#include "delivery/spool_moves.h"

#include <cerrno>
#include <cstring>

#include "base/files.h"
#include "base/runtime_error.h"
#include "delivery/outbound_slot.h"
#include "log/logs.h"
#include "relay/environment.h"
#include "spool/message.h"
#include "spool/spool_file.h"

namespace dorvane {
namespace {

const char kSource[] = "MOD:MODULE[SpoolMove]";

}  // namespace

// Makes a rename durable: the folder's entry list reaches the disk.
void SpoolMoves::FlushFolder(const char* folder) {
  const std::string path = SpoolPath(folder, "");
  if (int err = env_.files.SyncFolder(path))
    Raise(err == ENOENT ? kErrPathNotFound : kErrPermissionDenied, kSource,
          "Cannot flush folder " + path + ": " + std::strerror(err));
}

std::vector<std::string> SpoolMoves::Names(const char* folder) {
  std::vector<std::string> names;
  for (std::string& name : env_.files.List(SpoolPath(folder, ""))) {
    if (IsSpoolFileName(name)) names.push_back(std::move(name));
  }
  return names;
}

bool SpoolMoves::Exists(const char* folder, const std::string& name) {
  return env_.files.IsFile(SpoolPath(folder, name));
}

std::optional<long long> SpoolMoves::Time(const char* folder, const std::string& name) {
  std::optional<std::time_t> modified = env_.files.ModifiedTime(SpoolPath(folder, name));
  if (!modified) return std::nullopt;
  return static_cast<long long>(*modified);
}

void SpoolMoves::Move(const std::string& name, const char* from, const char* to) {
  const std::string source = SpoolPath(from, name);
  const std::string target = SpoolPath(to, name);
  if (int err = env_.files.Rename(source, target)) {
    const long number = err == ENOENT ? kErrFileNotFound : kErrPermissionDenied;
    Raise(number, kSource, "Cannot move " + source + " to " + target + ": " + std::strerror(err));
  }
  FlushFolder(to);
  FlushFolder(from);
}

void SpoolMoves::Remove(const char* folder, const std::string& name) {
  const std::string path = SpoolPath(folder, name);
  int err = env_.files.Remove(path);
  if (err != 0 && err != ENOENT)
    Raise(kErrPermissionDenied, kSource, "Cannot delete " + path + ": " + std::strerror(err));
}

void SpoolMoves::FileFromOutBox(const CMessage& message, const std::string& name, const char* to) {
  message.MWrite(env_.files, env_.logs, SpoolPath(kOutBox, name));
  Move(name, kOutBox, to);
}

void SpoolMoves::PutAsideUnreadable(const char* folder, const std::string& name, const std::string& why) {
  Move(name, folder, kError);
  env_.logs.ErrorLogAdd(LogStamp(env_.clock) + " " + name + " The spool file cannot be read as a message (" + why +
                        ") => placed in the error directory");
}

}  // namespace dorvane
