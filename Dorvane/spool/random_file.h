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

// A fresh name + `suffix` that names nothing (nor a staging file) in any of
// OutBox, Deferred and Error as `files` sees them, and is none of `taken`
// (names given to files still being written): draws again while it does.
// RuntimeError after an absurd number of collisions.
std::string FreshSpoolName(Files& files, Clock& clock, const std::string& suffix = "",
                           const std::set<std::string>& taken = {});

}  // namespace dorvane
