// Fresh names for spool files.
#pragma once

#include <cstdint>
#include <string>

namespace dorvane {

// Two upper-case hexadecimal numbers, each drawn uniformly below EFFFF,
// written one after the other without leading zeros ("3F2A1C9B04"). The
// generator is seeded once per process.
std::string RandomFileGet();

// A fresh name + `suffix` that names no file (nor staging file) in any of
// OutBox, Deferred and Error: draws again while it does. RuntimeError after
// an absurd number of collisions.
std::string FreshSpoolName(const std::string& suffix = "");

// Reseeds the generator (tests that want a known sequence).
void SeedRandomFileGet(uint64_t seed);

}  // namespace dorvane
