#include "spool/free_space.h"

#include "base/files.h"

namespace dorvane {

constexpr uint64_t kSpoolMargin = 10ull * 1000 * 1000;

uint64_t SpoolBytesNeeded(uint64_t text_bytes, size_t files) {
  return text_bytes * files + kSpoolMargin;
}

}  // namespace dorvane
