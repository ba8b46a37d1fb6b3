// Fresh names for spool files.
#pragma once

#include <cstdint>
#include <set>
#include <string>

namespace dorvane {

class Clock;
class Files;

// Two upper-case hexadecimal numbers, each drawn uniformly below EFFFF from
// `clock`'s random numbers, written one after the other without leading
// zeros ("3F2A1C9B04").
std::string RandomFileGet(Clock& clock);

// How FreshSpoolName makes sure that a name is free.
enum class NameCheck {
  // Nothing (nor a staging file) of that name in OutBox, Deferred or Error.
  kEveryFolder,
  // No message of that name in Deferred or Error: for a file written into
  // OutBox by WriteNewSpoolFiles, whose write refuses a name taken there
  // (one look fewer per folder for each message, and no gap between the look
  // and the write).
  kOtherFolders,
};

// A fresh name + `suffix` that is free in the spool folders as `files` sees
// them (`check`), and is none of `taken` (names given to files still being
// written): draws again while it is not. RuntimeError after an absurd number
// of collisions.
std::string FreshSpoolName(Files& files, Clock& clock, const std::string& suffix = "",
                           const std::set<std::string>& taken = {}, NameCheck check = NameCheck::kEveryFolder);

}  // namespace dorvane
