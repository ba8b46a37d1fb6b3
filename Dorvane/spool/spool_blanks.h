// Empty spool files made ahead of need. On file systems that write a new
// file's folder entry with the file's own flush, a message written into a
// file made earlier costs one folder write less: its entry was flushed
// with an earlier message's. A blank has a staging name of its own
// (".blank-N.tmp", which no folder scan takes for a message), is taken by
// one writer, filled and renamed into place like any staging file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace dorvane {

class Files;

// Whether `name`, a file found in a spool folder, is a blank.
bool IsBlankFileName(const std::string& name);

// The blanks of a few spool folders. Safe to use from several threads.
class SpoolBlanks {
 public:
  // Keeps up to `per_folder` blanks in each folder, made through `files`,
  // which must outlive the pool.
  SpoolBlanks(Files& files, size_t per_folder) : files_(files), per_folder_(per_folder) {}
  // Removes the blanks no writer took.
  ~SpoolBlanks();
  SpoolBlanks(const SpoolBlanks&) = delete;
  SpoolBlanks& operator=(const SpoolBlanks&) = delete;

  // The path of a blank in `folder`, now the caller's alone; "" when none
  // is waiting.
  std::string Take(const std::string& folder);
  // Makes blanks in `folder` until `per_folder` wait there. Called before
  // the folder is next flushed, so that the flush covers their entries and
  // a later message's flush finds nothing of the folder's left to write.
  // A blank that cannot be made is not: its message is written as before.
  void Refill(const std::string& folder);

 private:
  Files& files_;
  const size_t per_folder_;
  std::mutex mutex_;
  std::map<std::string, std::vector<std::string>> waiting_;
  uint64_t next_ = 0;  // numbers the blanks' names
};

}  // namespace dorvane
