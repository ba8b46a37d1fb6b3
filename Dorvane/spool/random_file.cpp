#include "spool/random_file.h"

#include <cstdio>
#include <limits>

#include "base/clock.h"
#include "base/files.h"
#include "base/runtime_error.h"
#include "spool/spool_file.h"

namespace dorvane {
namespace {

constexpr uint32_t kNameBound = 0xEFFFF;  // each number is below this
constexpr int kMaxDraws = 1000;
// Random numbers at or above this would favour the low names: drawn again.
constexpr uint32_t kFairLimit =
    std::numeric_limits<uint32_t>::max() - std::numeric_limits<uint32_t>::max() % kNameBound;
constexpr int kMaxRedraws = 64;

uint32_t Draw(Clock& clock) {
  uint32_t r = clock.Random();
  for (int i = 0; r >= kFairLimit && i < kMaxRedraws; ++i) r = clock.Random();
  return r % kNameBound;
}

bool PathTaken(Files& files, const std::string& path) {
  return files.Exists(path) || files.Exists(StagingPath(path));
}

}  // namespace

std::string RandomFileGet(Clock& clock) {
  uint32_t a = Draw(clock);
  uint32_t b = Draw(clock);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%X%X", a, b);
  return buf;
}

std::string FreshSpoolName(Files& files, Clock& clock, const std::string& suffix,
                           const std::set<std::string>& taken, NameCheck check) {
  for (int i = 0; i < kMaxDraws; ++i) {
    std::string name = RandomFileGet(clock) + suffix;
    if (taken.contains(name)) continue;
    const bool free = check == NameCheck::kOtherFolders
                          ? !files.Exists(SpoolPath(kDeferred, name)) && !files.Exists(SpoolPath(kError, name))
                          : !PathTaken(files, SpoolPath(kOutBox, name)) && !PathTaken(files, SpoolPath(kDeferred, name)) &&
                                !PathTaken(files, SpoolPath(kError, name));
    if (free) return name;
  }
  Raise(kErrPermissionDenied, "MOD:MODSpool[RandomFileGet]", "No free spool file name");
}

}  // namespace dorvane
