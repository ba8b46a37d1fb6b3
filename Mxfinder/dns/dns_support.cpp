#include "dns/dns_support.h"

#include "dns/byte_reader.h"
#include "dns/dns_error.h"

namespace mxfinder {

namespace {

constexpr const char* kLabelsSource = "MDnsSupport.GetLabelsByPosition";
constexpr int kPointerMark = 192;

// Reads one name segment at `position`: labels up to a zero byte or, when
// `hops` is not negative, up to a compression pointer, whose target is read
// the same way. Each label is followed by "." and one final "." is dropped;
// a pointer appends its target's name and a ".", so labels followed by a
// pointer to the root name keep a trailing ".". Once the name is longer than
// kMaxNameLength, labels are skipped rather than kept and pointers are no
// longer followed: the position after the name does not depend on them.
std::string ReadName(const std::string& data, int& position, int hops, const char* source) {
  ByteReader in(data, position, source);
  const int start = position;
  std::string name;
  bool cut = false;
  for (;;) {
    const uint8_t length = in.ReadU8();
    if (length == 0) break;
    cut = cut || name.size() > kMaxNameLength;
    if (hops < 0 || length < kPointerMark) {
      if (cut) {
        in.Skip(length);
        continue;
      }
      name += in.ReadBytes(length);
      name += '.';
      continue;
    }
    int target = (length - kPointerMark) * 256 + in.ReadU8();
    // Only backwards, and before this segment began: every hop then starts
    // lower than the one before, so no chain can come back on itself.
    if (target >= start || hops >= kMaxCompressionHops) RaiseDnsError(kDnsErrSubscript, source);
    if (!cut) name += ReadName(data, target, hops + 1, source) + '.';
    break;
  }
  position = in.position();
  if (!name.empty()) name.pop_back();
  if (cut || name.size() > kMaxNameLength) name.resize(kMaxNameLength + 1, '.');
  return name;
}

}  // namespace

std::string GetLabelsByPosition(const std::string& data, int& position) {
  return ReadName(data, position, 0, kLabelsSource);
}

std::string ReadPlainName(const std::string& data, int& position, const char* source) {
  return ReadName(data, position, -1, source);
}

}  // namespace mxfinder
