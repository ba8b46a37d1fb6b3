#include "spool/spool_file.h"

#include <cerrno>
#include <set>
#include <system_error>

#include "base/files.h"
#include "base/program.h"
#include "base/runtime_error.h"
#include "spool/spool_blanks.h"

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
  // Not strerror: spool files are also written on worker threads.
  Raise(number, source, what + " " + path + ": " + std::generic_category().message(err));
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

std::string SpoolPath(const std::string& folder, const std::string& name) {
  return ProgramFolder() + folder + "/" + name;
}

bool IsSpoolFileName(const std::string& name) {
  return !name.empty() && name[0] != kStagingPrefix;
}

std::string FileNameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

std::string StagingPath(const std::string& path) {
  size_t slash = path.rfind('/');
  size_t start = slash == std::string::npos ? 0 : slash + 1;
  return path.substr(0, start) + kStagingPrefix + path.substr(start) + kStagingSuffix;
}

std::vector<std::string> RemoveStaleStagingFiles(Files& files) {
  std::vector<std::string> removed;
  for (const char* folder : {kOutBox, kDeferred, kError}) {
    const std::string base = ProgramPath(folder) + "/";
    for (const std::string& name : files.List(ProgramPath(folder))) {
      if (IsSpoolFileName(name) || !name.ends_with(kStagingSuffix)) continue;
      // A blank never written to held no message: it goes unreported.
      std::string content;
      bool unused = IsBlankFileName(name) && files.ReadAtMost(base + name, 0, &content) == 0 && content.empty();
      if (files.Remove(base + name) == 0 && !unused) removed.push_back(base + name);
    }
  }
  return removed;
}

SpoolWriteBatch::SpoolWriteBatch(Files& files, std::string source, bool new_files)
    : files_(files), source_(std::move(source)), new_files_(new_files) {}

SpoolWriteBatch::~SpoolWriteBatch() {
  for (const auto& e : staged_) files_.Remove(e.staging);
}

void SpoolWriteBatch::Stage(const std::string& path, std::string_view bytes, const std::string& blank) {
  std::string staging = blank.empty() ? StagingPath(path) : blank;
  // Listed first: a write that fails half-way may still leave the file.
  staged_.push_back({path, staging});
  bool create = new_files_ && blank.empty();  // a blank is there already, and ours
  int err = create ? files_.WriteDurableNew(staging, bytes) : files_.WriteDurable(staging, bytes);
  if (err == 0) return;
  if (err == EEXIST) staged_.pop_back();  // another writer's: not ours to remove
  RaiseErrno(source_, "Cannot write", staging, err);
}

void SpoolWriteBatch::Commit() {
  for (const auto& folder : Place()) {
    if (int err = files_.SyncFolder(folder)) RaiseErrno(source_, "Cannot flush folder", folder, err);
  }
}

std::vector<std::string> SpoolWriteBatch::Place() {
  std::vector<Entry> staged;
  staged.swap(staged_);
  std::set<std::string> folders;
  for (size_t i = 0; i < staged.size(); ++i) {
    int err = new_files_ ? files_.RenameNew(staged[i].staging, staged[i].path)
                         : files_.Rename(staged[i].staging, staged[i].path);
    if (err == 0) {
      folders.insert(FolderOf(staged[i].path));
      continue;
    }
    for (size_t j = 0; j < i; ++j) files_.Remove(staged[j].path);
    for (size_t j = i; j < staged.size(); ++j) files_.Remove(staged[j].staging);
    RaiseErrno(source_, "Cannot rename into", staged[i].path, err);
  }
  return {folders.begin(), folders.end()};
}

void WriteNewSpoolFiles(Files& files, const std::vector<SpoolFile>& spool, const std::string& source,
                        const FlushFolder& flush, SpoolBlanks* blanks) {
  SpoolWriteBatch batch(files, source, true);
  for (const SpoolFile& file : spool)
    batch.Stage(file.path, file.bytes, blanks ? blanks->Take(FolderOf(file.path)) : std::string());
  // Made before the renames, so that the flush that follows covers them.
  if (blanks)
    for (const SpoolFile& file : spool) blanks->Refill(FolderOf(file.path));
  for (const std::string& folder : batch.Place()) {
    int err = flush(folder);
    if (err == 0) continue;
    for (const SpoolFile& file : spool) files.Remove(file.path);
    RaiseErrno(source, "Cannot flush folder", folder, err);
  }
}

}  // namespace dorvane
