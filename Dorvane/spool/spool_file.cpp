#include "spool/spool_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <set>
#include <unistd.h>

#include "base/program.h"
#include "base/runtime_error.h"

namespace dorvane {

const char* const kOutBox = "OutBox";
const char* const kDeferred = "Deferred";
const char* const kError = "Error";

namespace {

const char kStagingPrefix = '.';
const char kStagingSuffix[] = ".tmp";

[[noreturn]] void RaiseErrno(const std::string& source, const std::string& what,
                             const std::string& path, int err) {
  long number = (err == ENOENT || err == ENOTDIR) ? kErrPathNotFound : kErrPermissionDenied;
  Raise(number, source, what + " " + path + ": " + std::strerror(err));
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Writes every byte; returns 0 or the errno of the failure.
int WriteAll(int fd, std::string_view bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EIO;
    done += static_cast<size_t>(n);
  }
  return 0;
}

void SyncFolder(const std::string& folder, const std::string& source) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) RaiseErrno(source, "Cannot open folder", folder, errno);
  int rc = ::fsync(fd);
  int err = errno;
  ::close(fd);
  if (rc != 0) RaiseErrno(source, "Cannot flush folder", folder, err);
}

}  // namespace

std::string SpoolPath(const std::string& folder, const std::string& name) {
  return ProgramFolder() + folder + "/" + name;
}

bool IsSpoolFileName(const std::string& name) {
  return !name.empty() && name[0] != kStagingPrefix;
}

std::string StagingPath(const std::string& path) {
  size_t slash = path.rfind('/');
  size_t start = slash == std::string::npos ? 0 : slash + 1;
  return path.substr(0, start) + kStagingPrefix + path.substr(start) + kStagingSuffix;
}

std::vector<std::string> RemoveStaleStagingFiles() {
  std::vector<std::string> removed;
  for (const char* folder : {kOutBox, kDeferred, kError}) {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(ProgramPath(folder), ec)) {
      std::string name = entry.path().filename().string();
      if (IsSpoolFileName(name) || !name.ends_with(kStagingSuffix)) continue;
      if (!entry.is_regular_file(ec)) continue;
      if (::unlink(entry.path().c_str()) == 0) removed.push_back(entry.path().string());
    }
  }
  return removed;
}

SpoolWriteBatch::SpoolWriteBatch(std::string source) : source_(std::move(source)) {}

SpoolWriteBatch::~SpoolWriteBatch() {
  for (const auto& e : staged_) ::unlink(e.staging.c_str());
}

void SpoolWriteBatch::Stage(const std::string& path, std::string_view bytes) {
  std::string staging = StagingPath(path);
  int fd = ::open(staging.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) RaiseErrno(source_, "Cannot create", staging, errno);
  staged_.push_back({path, staging});
  int err = WriteAll(fd, bytes);
  if (err == 0 && ::fsync(fd) != 0) err = errno;
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err != 0) RaiseErrno(source_, "Cannot write", staging, err);
}

void SpoolWriteBatch::Commit() {
  std::vector<Entry> staged;
  staged.swap(staged_);
  std::set<std::string> folders;
  for (size_t i = 0; i < staged.size(); ++i) {
    if (::rename(staged[i].staging.c_str(), staged[i].path.c_str()) == 0) {
      folders.insert(FolderOf(staged[i].path));
      continue;
    }
    int err = errno;
    for (size_t j = 0; j < i; ++j) ::unlink(staged[j].path.c_str());
    for (size_t j = i; j < staged.size(); ++j) ::unlink(staged[j].staging.c_str());
    RaiseErrno(source_, "Cannot rename into", staged[i].path, err);
  }
  for (const auto& folder : folders) SyncFolder(folder, source_);
}

}  // namespace dorvane
