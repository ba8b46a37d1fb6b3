// What the queue scan keeps in memory about the spool folders, so that a
// tick with nothing to do touches no file: when each Deferred file is due,
// and which OutBox files may be waiting. The folders stay the only truth:
// both are hints, brought back in line by a full listing now and then, and
// every name taken from them is checked against its file before it is used.
#pragma once

#include <ctime>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

namespace dorvane {

// The Deferred files by modification time, oldest first. The file's own
// time is kept (not the time it is due), so a changed AttemptDelay applies
// to every known file without a rebuild. Adding and taking cost O(log n);
// a heap in one array, so a deep queue costs about its names' size.
class DeferredIndex {
 public:
  using Entry = std::pair<std::time_t, std::string>;  // modification time, name
  using TimeOf = std::function<std::optional<std::time_t>(const std::string& name)>;

  // Records `name` as modified at `modified`. The same name may be recorded
  // twice with two times; the taker checks the file's time anyway.
  void Add(std::time_t modified, std::string name);
  // The oldest entry, or nullptr when there is none.
  const Entry* Oldest() const;
  // Removes the oldest entry and gives it; the index must not be empty.
  Entry TakeOldest();
  // Brings the index in line with a full listing of the folder: entries
  // whose name is not listed go; listed names not known are added with
  // `time_of` (a name it gives no time for is left out). Each known file
  // costs no file operation.
  void Reconcile(std::vector<std::string> listed, const TimeOf& time_of);
  void Clear() { heap_.clear(); }
  size_t size() const { return heap_.size(); }

 private:
  std::vector<Entry> heap_;  // the oldest at the front
};

// OutBox names that may be waiting for a dispatch, first come first taken,
// each at most once.
class PendingNames {
 public:
  // Adds `name` at the end unless it is waiting already.
  void Add(const std::string& name);
  // Puts `name` back at the front (a file that found no free slot).
  void PutBackFirst(const std::string& name);
  // Takes the first name into `name`; false when none is waiting.
  bool Take(std::string* name);
  size_t size() const { return order_.size(); }

 private:
  std::deque<std::string> order_;
  std::unordered_set<std::string> members_;
};

}  // namespace dorvane
