// The queue as its user sees it from the command line: what OutBox,
// Deferred and Error hold, and the two changes a user may make to one
// message (send it again now, drop it). Plain work on the spool folders
// through Files, so it runs whether the relay runs or not: each change is
// one rename or one unlink, which the relay's own scans already expect.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace dorvane {

class Files;

// One spool file of the queue. A damaged file has its name, folder and
// arrival only.
struct QueueEntry {
  std::string id;
  std::string folder;  // "OutBox", "Deferred" or "Error"
  uint64_t size = 0;
  std::optional<std::time_t> arrival;  // the file's modification time
  bool damaged = false;
  std::string sender;
  std::vector<std::string> recipients;
  int attempts = 0;
  std::optional<std::time_t> next_try;  // Deferred only: arrival + the deferral delay
};

// The deferral delay in minutes that the relay would use with the program
// folder's Dorvane.ini (the default when the file is missing or unreadable).
int QueueDeferralMinutes(Files& files);

// Every message of OutBox, Deferred and Error, folder by folder, sorted by
// name within each. A file that cannot be read as a message is listed as
// damaged; a file that vanishes while listed is left out.
std::vector<QueueEntry> ListQueue(Files& files, int deferral_minutes);

enum class QueueChange { Done, BadId, NotFound, Failed };

// Whether `id` can name a spool file: not empty, no "/", no leading ".",
// no control byte, at most 255 bytes.
bool IsPlainSpoolId(const std::string& id);

// Moves `id` from Deferred or Error to OutBox in one rename and flushes
// both folders. `error` says why on anything but Done.
QueueChange RetryMessage(Files& files, const std::string& id, std::string* error);
// Removes `id` from whichever of the three folders holds it.
QueueChange DeleteMessage(Files& files, const std::string& id, std::string* error);

// Runs queue command `command` ("queue", "retry" or "delete") with its
// `id`; what it prints goes to `out` and `error`. Returns the exit status:
// 0, or 1 when the message is not there or the change failed.
int RunQueueCommand(Files& files, const std::string& command, const std::string& id, bool json,
                    std::string* out, std::string* error);

}  // namespace dorvane
