// Spool folders and durable spool writes. A spool file is first written
// under a staging name ("." + name + ".tmp", beside its final place) that no
// folder scan takes for a message, flushed to disk, then renamed into place
// and its folder flushed, so a message is either whole in its folder or not
// there at all, even across a crash.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace dorvane {

class Files;
class SpoolBlanks;

// The three spool folders, directly in the program folder.
extern const char* const kOutBox;    // "OutBox"
extern const char* const kDeferred;  // "Deferred"
extern const char* const kError;     // "Error"

// ProgramFolder() + folder + "/" + name.
std::string SpoolPath(const std::string& folder, const std::string& name);

// Whether `name`, a file found in a spool folder, is a queued message. A
// staging file still being written (leading ".") is not; folder scans skip
// every name for which this is false.
bool IsSpoolFileName(const std::string& name);

// The name of the file at `path`: the text after its last "/".
std::string FileNameOf(const std::string& path);

// The staging path of `path`: same folder, "." + name + ".tmp".
std::string StagingPath(const std::string& path);

// Removes through `files` the staging files that a crash left in the three
// spool folders (never a message: a message only exists once renamed into
// place) and returns the paths it removed.
std::vector<std::string> RemoveStaleStagingFiles(Files& files);

// One spool file to write: its final path and its whole content.
struct SpoolFile {
  std::string path;
  std::string bytes;
};

// Flushes the entries of one folder to disk: 0 or the errno of the failure.
using FlushFolder = std::function<int(const std::string& folder)>;

// Writes `spool`, files new to their folders, all or nothing through
// `files` as SpoolWriteBatch does, each folder flushed by `flush`. A failed
// flush removes the files again (they were new: nothing is lost), so a
// failure reported never leaves a message behind. A name already taken in
// its folder (by another writer) fails the write rather than replacing that
// file. With `blanks`, each file is written into a blank of its folder when
// one waits, and the folders are refilled before their flush. Throws
// RuntimeError with `source` on failure.
void WriteNewSpoolFiles(Files& files, const std::vector<SpoolFile>& spool, const std::string& source,
                        const FlushFolder& flush, SpoolBlanks* blanks = nullptr);

// A set of spool files written all or nothing. Stage() writes each one
// under its staging name and flushes it; Commit() renames them all into
// place and flushes their folders. Files staged but not committed are
// removed when the batch ends, so a failure leaves nothing behind. Every
// file operation goes through the Files it is given.
class SpoolWriteBatch {
 public:
  // `source` names the operation in the RuntimeError of a failure; `files`
  // must outlive the batch. With `new_files`, a file (or staging file) of
  // the same name already there is never replaced: the batch fails instead.
  SpoolWriteBatch(Files& files, std::string source, bool new_files = false);
  ~SpoolWriteBatch();
  SpoolWriteBatch(const SpoolWriteBatch&) = delete;
  SpoolWriteBatch& operator=(const SpoolWriteBatch&) = delete;

  // Writes `bytes` to the staging path of `path` (a new file is 0600: mail
  // is private to its user), or into `blank` (an empty staging file that
  // is the caller's alone) when given, and flushes it to disk.
  // Throws RuntimeError when it cannot.
  void Stage(const std::string& path, std::string_view bytes, const std::string& blank = {});
  // Renames every staged file over its final path (replacing a file of that
  // name) and flushes the folders. When a rename fails, the files of this
  // batch already moved are removed again and RuntimeError is thrown.
  void Commit();
  // The renames of Commit() alone: returns the folders holding the files,
  // each once, still to be flushed by the caller.
  std::vector<std::string> Place();

 private:
  struct Entry {
    std::string path;
    std::string staging;
  };
  Files& files_;
  std::string source_;
  bool new_files_;
  std::vector<Entry> staged_;
};

}  // namespace dorvane
