#include "spool/random_file.h"

#include <cstdio>
#include <random>
#include <sys/stat.h>

#include "base/runtime_error.h"
#include "spool/spool_file.h"

namespace dorvane {
namespace {

constexpr uint32_t kNameBound = 0xEFFFF;  // each number is below this
constexpr int kMaxDraws = 1000;

std::mt19937_64& Generator() {
  static std::mt19937_64 gen{std::random_device{}()};
  return gen;
}

bool PathTaken(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 || ::lstat(StagingPath(path).c_str(), &st) == 0;
}

}  // namespace

std::string RandomFileGet() {
  std::uniform_int_distribution<uint32_t> draw(0, kNameBound - 1);
  uint32_t a = draw(Generator());
  uint32_t b = draw(Generator());
  char buf[16];
  std::snprintf(buf, sizeof buf, "%X%X", a, b);
  return buf;
}

std::string FreshSpoolName(const std::string& suffix) {
  for (int i = 0; i < kMaxDraws; ++i) {
    std::string name = RandomFileGet() + suffix;
    if (!PathTaken(SpoolPath(kOutBox, name)) && !PathTaken(SpoolPath(kDeferred, name)) &&
        !PathTaken(SpoolPath(kError, name)))
      return name;
  }
  Raise(kErrPermissionDenied, "MOD:MODSpool[RandomFileGet]", "No free spool file name");
}

void SeedRandomFileGet(uint64_t seed) { Generator().seed(seed); }

}  // namespace dorvane
