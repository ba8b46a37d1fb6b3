// The file operations of the spool and the logs, at the level of the system
// calls they stand for, so that a test can make any one of them fail (a
// full disk, a folder taken away) without touching the real file system's
// modes. Every call that can fail returns 0 or the errno of the failure.
#pragma once

#include <cstdint>
#include <ctime>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

#include "base/late_close.h"

namespace dorvane {

class Files {
 public:
  virtual ~Files() = default;
  // Creates or empties `path` (a new file is 0600), writes every byte and
  // flushes the file to disk.
  virtual int WriteDurable(const std::string& path, std::string_view bytes) = 0;
  // Appends every byte to `path` (created 0600 when missing); on a failure
  // the file is cut back to its old length.
  virtual int Append(const std::string& path, std::string_view bytes) = 0;
  // The whole content of `path` into `bytes`.
  virtual int Read(const std::string& path, std::string* bytes) = 0;
  // Renames `from` over `to` (replacing a file of that name).
  virtual int Rename(const std::string& from, const std::string& to) = 0;
  // As WriteDurable, but only creates: EEXIST when `path` is there. By
  // default Exists then WriteDurable.
  virtual int WriteDurableNew(const std::string& path, std::string_view bytes);
  // As Rename, but never replaces: EEXIST when `to` is there. By default
  // Exists then Rename.
  virtual int RenameNew(const std::string& from, const std::string& to);
  // Creates `path` empty (0600) without flushing it: EEXIST when `path` is
  // there. By default WriteDurableNew of nothing.
  virtual int CreateNew(const std::string& path);
  // Removes the file `path`.
  virtual int Remove(const std::string& path) = 0;
  // Flushes the entries of `folder` to disk.
  virtual int SyncFolder(const std::string& folder) = 0;
  // The names of the regular files in `folder`, in the order the file
  // system lists them; none when it cannot be read.
  virtual std::vector<std::string> List(const std::string& folder) = 0;
  // Whether `path` is a regular file.
  virtual bool IsFile(const std::string& path) = 0;
  // The modification time of `path`; nullopt when it cannot be read.
  virtual std::optional<std::time_t> ModifiedTime(const std::string& path) = 0;
  // Bytes an unprivileged writer may still use on the file system holding
  // `folder`; nullopt when unknown.
  virtual std::optional<uint64_t> FreeBytes(const std::string& folder) = 0;
  // The content of `path` into `bytes`, reading no more than `limit` + 1
  // bytes, so a caller that finds more than `limit` knows the file is too
  // large without having taken all of it in memory. By default a whole Read.
  virtual int ReadAtMost(const std::string& path, size_t limit, std::string* bytes);
  // Whether anything at all (a file, a folder, a link) has the name `path`.
  // By default IsFile.
  virtual bool Exists(const std::string& path);
  // The permission bits of `path` (07777 of its mode), or the errno of the
  // failure to read them. By default those of the real file system.
  virtual int PermissionBits(const std::string& path, uint32_t* bits);
};

// The whole content of the file at `path`, read through `files`. Throws
// RuntimeError (53 when the file is missing, 70 when it cannot be read)
// with `source` as its source.
std::string ReadFileBytes(Files& files, const std::string& path, const std::string& source);

// The real file system. Safe to use from several threads at once.
class DiskFiles final : public Files {
 public:
  // Append keeps the files it writes open (the logs: a few names), and
  // before each write checks that the name still leads to the open file
  // (looking it up again only when its folder changed), so a log removed or
  // renamed by hand is let go at its next line. Remove takes the name at
  // once and leaves freeing the file's blocks to another thread.
  DiskFiles() = default;
  ~DiskFiles() override;
  DiskFiles(const DiskFiles&) = delete;
  DiskFiles& operator=(const DiskFiles&) = delete;

  int WriteDurable(const std::string& path, std::string_view bytes) override;
  int Append(const std::string& path, std::string_view bytes) override;
  int Read(const std::string& path, std::string* bytes) override;
  int Rename(const std::string& from, const std::string& to) override;
  // Both in one step: nothing can take the name between a look and the act.
  int WriteDurableNew(const std::string& path, std::string_view bytes) override;
  int RenameNew(const std::string& from, const std::string& to) override;
  int CreateNew(const std::string& path) override;
  int Remove(const std::string& path) override;
  int SyncFolder(const std::string& folder) override;
  std::vector<std::string> List(const std::string& folder) override;
  bool IsFile(const std::string& path) override;
  std::optional<std::time_t> ModifiedTime(const std::string& path) override;
  std::optional<uint64_t> FreeBytes(const std::string& folder) override;
  int ReadAtMost(const std::string& path, size_t limit, std::string* bytes) override;
  bool Exists(const std::string& path) override;

 private:
  struct KeptFile {
    std::string path;
    int fd;
    dev_t device;
    ino_t inode;
    int folder_fd;              // the folder that holds the name, or -1
    struct timespec checked{};  // the folder's change time when the name was last looked up
    bool folder_settled;        // that time was old enough to be trusted
  };
  // Whether the name of `kept` surely still leads to its file: its folder,
  // unchanged since the last look-up, has had no entry added, renamed or
  // removed. Spares looking the name up again for every line.
  static bool NameSurelyKept(const KeptFile& kept);
  static void NoteNameChecked(KeptFile& kept);
  // The open descriptor of `path` for Append, opening it when none is kept
  // or the name now leads elsewhere; -1 with errno set on a failure.
  int AppendFd(const std::string& path);
  void CloseKept(size_t index);

  std::mutex kept_mutex_;
  std::vector<KeptFile> kept_;
  LateClose late_close_;
};

}  // namespace dorvane
