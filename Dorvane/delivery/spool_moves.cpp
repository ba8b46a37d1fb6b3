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

[[noreturn]] void RaiseMoveFailed(int err, const std::string& name, const char* from, const char* to) {
  const long number = err == ENOENT ? kErrFileNotFound : kErrPermissionDenied;
  Raise(number, kSource,
        "Cannot move " + SpoolPath(from, name) + " to " + SpoolPath(to, name) + ": " + std::strerror(err));
}

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

void SpoolMoves::Announce(const char* folder, const std::string& name) {
  if (arrival_) arrival_(folder, name);
}

int SpoolMoves::Rename(const std::string& name, const char* from, const char* to) {
  if (int err = env_.files.Rename(SpoolPath(from, name), SpoolPath(to, name))) return err;
  FlushFolder(to);
  FlushFolder(from);
  Announce(to, name);
  return 0;
}

void SpoolMoves::Move(const std::string& name, const char* from, const char* to) {
  if (int err = Rename(name, from, to)) RaiseMoveFailed(err, name, from, to);
}

bool SpoolMoves::MoveIfThere(const std::string& name, const char* from, const char* to) {
  const int err = Rename(name, from, to);
  if (err == 0) return true;
  if (err == ENOENT && !Exists(from, name)) return false;  // not the target folder: the file itself is gone
  RaiseMoveFailed(err, name, from, to);
}

void SpoolMoves::Write(const CMessage& message, const char* folder, const std::string& name) {
  message.MWrite(env_.files, env_.logs, SpoolPath(folder, name));
  Announce(folder, name);
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
