#include "delivery/spool_moves.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "base/dates.h"
#include "base/runtime_error.h"
#include "log/logs.h"
#include "spool/message.h"
#include "spool/spool_file.h"

namespace fs = std::filesystem;

namespace dorvane {
namespace {

const char kSource[] = "MOD:MODULE[SpoolMove]";

// Makes a rename durable: the folder's entry list reaches the disk.
void FlushFolder(const char* folder) {
  std::string path = SpoolPath(folder, "");
  int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) Raise(kErrPathNotFound, kSource, "Cannot open folder " + path + ": " + std::strerror(errno));
  int rc = ::fsync(fd);
  int err = errno;
  ::close(fd);
  if (rc != 0)
    Raise(kErrPermissionDenied, kSource, "Cannot flush folder " + path + ": " + std::strerror(err));
}

}  // namespace

std::vector<std::string> SpoolFileNames(const char* folder) {
  std::vector<std::string> names;
  std::error_code ec;
  fs::directory_iterator it(SpoolPath(folder, ""), ec);
  if (ec) return names;
  for (const fs::directory_entry& entry : it) {
    std::error_code type_ec;
    if (!entry.is_regular_file(type_ec)) continue;
    std::string name = entry.path().filename().string();
    if (IsSpoolFileName(name)) names.push_back(std::move(name));
  }
  return names;
}

bool SpoolFileExists(const char* folder, const std::string& name) {
  struct stat st {};
  return ::stat(SpoolPath(folder, name).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

long long SpoolFileTime(const char* folder, const std::string& name) {
  struct stat st {};
  if (::stat(SpoolPath(folder, name).c_str(), &st) != 0) return -1;
  return static_cast<long long>(st.st_mtime);
}

void MoveSpoolFile(const std::string& name, const char* from, const char* to) {
  std::string source = SpoolPath(from, name);
  std::string target = SpoolPath(to, name);
  if (::rename(source.c_str(), target.c_str()) != 0) {
    long number = errno == ENOENT ? kErrFileNotFound : kErrPermissionDenied;
    Raise(number, kSource, "Cannot move " + source + " to " + target + ": " + std::strerror(errno));
  }
  FlushFolder(to);
  FlushFolder(from);
}

void RemoveSpoolFile(const char* folder, const std::string& name) {
  std::string path = SpoolPath(folder, name);
  if (::unlink(path.c_str()) != 0 && errno != ENOENT)
    Raise(kErrPermissionDenied, kSource, "Cannot delete " + path + ": " + std::strerror(errno));
}

void FileFromOutBox(const CMessage& message, const std::string& name, const char* to) {
  message.MWrite(SpoolPath(kOutBox, name));
  MoveSpoolFile(name, kOutBox, to);
}

void PutAsideUnreadable(const char* folder, const std::string& name, const std::string& why) {
  MoveSpoolFile(name, folder, kError);
  ErrorLogAdd(GMTDate() + " " + name + " The spool file cannot be read as a message (" + why +
              ") => placed in the error directory");
}

}  // namespace dorvane
