#include "spool/free_space.h"

#include <sys/statvfs.h>

namespace dorvane {

constexpr uint64_t kSpoolMargin = 10ull * 1000 * 1000;

std::optional<uint64_t> FreeBytesAt(const std::string& folder) {
  struct statvfs fs {};
  if (::statvfs(folder.c_str(), &fs) != 0) return std::nullopt;
  return static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize;
}

uint64_t SpoolBytesNeeded(uint64_t text_bytes, size_t files) {
  return text_bytes * files + kSpoolMargin;
}

}  // namespace dorvane
