#include "base/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "base/runtime_error.h"

namespace dorvane {
namespace {

// The files Append keeps open: the logs, four names.
constexpr size_t kMaxKeptFiles = 4;

// Writes every byte; returns 0 or the errno of the failure, and in
// `written` how many bytes went out before it.
int WriteAll(int fd, std::string_view bytes, size_t* written = nullptr) {
  size_t done = 0;
  int err = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      err = n < 0 ? errno : EIO;
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (written) *written = done;
  return err;
}

int Result(int rc) { return rc == 0 ? 0 : errno; }

// Writes every byte to a file opened with `flags` and flushes it to disk.
int WriteFlushed(const std::string& path, int flags, std::string_view bytes) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | flags, 0600);
  if (fd < 0) return errno;
  int err = WriteAll(fd, bytes);
  if (err == 0 && ::fsync(fd) != 0) err = errno;
  if (::close(fd) != 0 && err == 0) err = errno;
  return err;
}

}  // namespace

int DiskFiles::WriteDurable(const std::string& path, std::string_view bytes) {
  return WriteFlushed(path, O_TRUNC, bytes);
}

int DiskFiles::WriteDurableNew(const std::string& path, std::string_view bytes) {
  return WriteFlushed(path, O_EXCL, bytes);
}

DiskFiles::~DiskFiles() {
  while (!kept_.empty()) CloseKept(kept_.size() - 1);
}

void DiskFiles::CloseKept(size_t index) {
  ::close(kept_[index].fd);
  if (kept_[index].folder_fd >= 0) ::close(kept_[index].folder_fd);
  kept_.erase(kept_.begin() + static_cast<std::ptrdiff_t>(index));
}

bool DiskFiles::NameSurelyKept(const KeptFile& kept) {
  struct stat folder {};
  return kept.folder_settled && ::fstat(kept.folder_fd, &folder) == 0 &&
         folder.st_ctim.tv_sec == kept.checked.tv_sec && folder.st_ctim.tv_nsec == kept.checked.tv_nsec;
}

void DiskFiles::NoteNameChecked(KeptFile& kept) {
  struct stat folder {};
  kept.folder_settled = false;
  if (kept.folder_fd < 0 || ::fstat(kept.folder_fd, &folder) != 0) return;
  kept.checked = folder.st_ctim;
  // A change within the same tick of the file system's clock would leave
  // the time as it is: only a time already well past rules that out.
  struct timespec now {};
  ::clock_gettime(CLOCK_REALTIME, &now);
  kept.folder_settled = now.tv_sec - kept.checked.tv_sec >= 2;
}

int DiskFiles::AppendFd(const std::string& path) {
  struct stat st {};
  for (size_t i = 0; i < kept_.size(); ++i) {
    KeptFile& kept = kept_[i];
    if (kept.path != path) continue;
    if (NameSurelyKept(kept)) return kept.fd;
    // The folder's time is taken first: a change after it shows next time.
    NoteNameChecked(kept);
    if (::stat(path.c_str(), &st) == 0 && st.st_ino == kept.inode && st.st_dev == kept.device) return kept.fd;
    CloseKept(i);
    break;
  }
  const std::string folder = std::filesystem::path(path).parent_path().string();
  KeptFile opened{path, -1, 0, 0, ::open(folder.empty() ? "." : folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC), {}, false};
  NoteNameChecked(opened);  // before the open, as above
  opened.fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (opened.fd < 0 || ::fstat(opened.fd, &st) != 0) {
    int err = errno;
    if (opened.fd >= 0) ::close(opened.fd);
    if (opened.folder_fd >= 0) ::close(opened.folder_fd);
    errno = err;
    return -1;
  }
  opened.device = st.st_dev;
  opened.inode = st.st_ino;
  if (kept_.size() == kMaxKeptFiles) CloseKept(0);
  kept_.push_back(std::move(opened));
  return kept_.back().fd;
}

// Lines come many times a second under load; keeping the file open spares
// an open and a close for each.
int DiskFiles::Append(const std::string& path, std::string_view bytes) {
  std::lock_guard<std::mutex> lock(kept_mutex_);
  int fd = AppendFd(path);
  if (fd < 0) return errno;
  size_t written = 0;
  int err = WriteAll(fd, bytes, &written);
  if (err == 0) return 0;
  // Cut back to the old length, so a half line never stays in the file, and
  // open the file afresh next time.
  struct stat after {};
  if (::fstat(fd, &after) == 0 && after.st_size >= static_cast<off_t>(written))
    (void)::ftruncate(fd, after.st_size - static_cast<off_t>(written));
  for (size_t i = 0; i < kept_.size(); ++i) {
    if (kept_[i].fd != fd) continue;
    CloseKept(i);
    break;
  }
  return err;
}

int DiskFiles::Read(const std::string& path, std::string* bytes) {
  return ReadAtMost(path, std::string::npos - 1, bytes);
}

int DiskFiles::ReadAtMost(const std::string& path, size_t limit, std::string* bytes) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  bytes->clear();
  char buffer[65536];
  int err = 0;
  while (bytes->size() <= limit) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) err = errno;
    if (n <= 0) break;
    bytes->append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return err;
}

bool DiskFiles::Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

int DiskFiles::Rename(const std::string& from, const std::string& to) {
  return Result(::rename(from.c_str(), to.c_str()));
}

int DiskFiles::RenameNew(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // A file system without it: a hard link is refused just as atomically.
  if (::link(from.c_str(), to.c_str()) != 0) return errno == EPERM ? Files::RenameNew(from, to) : errno;
  (void)::unlink(from.c_str());
  return 0;
}

int DiskFiles::CreateNew(const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return errno;
  return Result(::close(fd));
}

int DiskFiles::Remove(const std::string& path) {
  // Held open across the removal, the file is freed by the late close (a
  // name-only handle: opening it has no effect on any kind of file).
  int held = ::open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
  int err = Result(::unlink(path.c_str()));
  if (held >= 0) late_close_.Close(held);
  return err;
}

int DiskFiles::SyncFolder(const std::string& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno;
  int err = Result(::fsync(fd));
  ::close(fd);
  return err;
}

std::vector<std::string> DiskFiles::List(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    std::error_code type_ec;
    if (entry.is_regular_file(type_ec)) names.push_back(entry.path().filename().string());
  }
  return names;
}

bool DiskFiles::IsFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::optional<std::time_t> DiskFiles::ModifiedTime(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return st.st_mtime;
}

std::optional<uint64_t> DiskFiles::FreeBytes(const std::string& folder) {
  struct statvfs fs {};
  if (::statvfs(folder.c_str(), &fs) != 0) return std::nullopt;
  return static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize;
}

int Files::ReadAtMost(const std::string& path, size_t, std::string* bytes) { return Read(path, bytes); }

bool Files::Exists(const std::string& path) { return IsFile(path); }

int Files::WriteDurableNew(const std::string& path, std::string_view bytes) {
  return Exists(path) ? EEXIST : WriteDurable(path, bytes);
}

int Files::CreateNew(const std::string& path) { return WriteDurableNew(path, {}); }

int Files::RenameNew(const std::string& from, const std::string& to) {
  return Exists(to) ? EEXIST : Rename(from, to);
}

int Files::PermissionBits(const std::string& path, uint32_t* bits) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return errno;
  *bits = static_cast<uint32_t>(st.st_mode & 07777);
  return 0;
}

std::string ReadFileBytes(Files& files, const std::string& path, const std::string& source) {
  std::string bytes;
  int err = files.Read(path, &bytes);
  if (err == 0) return bytes;
  long number = err == ENOENT ? kErrFileNotFound : kErrPermissionDenied;
  Raise(number, source, ErrorDescription(number) + ": " + path);
}

}  // namespace dorvane
