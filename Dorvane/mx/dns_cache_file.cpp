#include "mx/dns_cache_file.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>

#include "base/runtime_error.h"

namespace dorvane {
namespace {

// Smallest encoded MX entry: Order, two empty texts and the TTL.
constexpr size_t kMinEntryBytes = 2 + 2 + 2 + 8;
// A header number above this cannot be a size of any real cache.
constexpr double kMaxElements = 2147483647.0;

template <class T>
void PutLE(std::string& out, T value) {
  for (size_t i = 0; i < sizeof(T); ++i) out += static_cast<char>((static_cast<uint64_t>(value) >> (8 * i)) & 0xFF);
}

void PutDouble(std::string& out, double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  PutLE<uint64_t>(out, bits);
}

void PutText(std::string& out, const std::string& text) {
  if (text.size() > 0xFFFF) Raise(kErrOverflow, "DNSWriteCache", ErrorDescription(kErrOverflow));
  PutLE<uint16_t>(out, static_cast<uint16_t>(text.size()));
  out += text;
}

// Bounds-checked reader: every Get fails (returns false) instead of reading
// past the end, and leaves the position where it was.
class Reader {
 public:
  explicit Reader(const std::string& bytes) : bytes_(bytes) {}

  size_t pos() const { return pos_; }
  size_t left() const { return bytes_.size() - pos_; }

  template <class T>
  bool Get(T& value) {
    if (left() < sizeof(T)) return false;
    uint64_t v = 0;
    for (size_t i = 0; i < sizeof(T); ++i)
      v |= static_cast<uint64_t>(static_cast<unsigned char>(bytes_[pos_ + i])) << (8 * i);
    value = static_cast<T>(v);
    pos_ += sizeof(T);
    return true;
  }

  bool GetDouble(double& value) {
    uint64_t bits;
    if (!Get(bits)) return false;
    std::memcpy(&value, &bits, sizeof value);
    return true;
  }

  bool GetText(std::string& text) {
    size_t start = pos_;
    uint16_t n;
    if (!Get(n)) return false;
    if (left() < n) {
      pos_ = start;
      return false;
    }
    text.assign(bytes_, pos_, n);
    pos_ += n;
    return true;
  }

 private:
  const std::string& bytes_;
  size_t pos_ = 0;
};

bool ReadEntry(Reader& in, MXRecord& record) {
  return in.Get(record.Order) && in.GetText(record.Host) && in.GetText(record.IP) &&
         in.GetDouble(record.TTL);
}

// One element, or nothing when its bytes are short or not of this format.
std::optional<DnsCacheEntry> ReadElement(Reader& in) {
  DnsCacheEntry e;
  uint16_t dims;
  uint32_t count, lower;
  if (!in.GetText(e.Domain) || !in.Get(dims) || !in.Get(count) || !in.Get(lower)) return {};
  if (dims != 1 || lower != 0 || count == 0 || count > in.left() / kMinEntryBytes) return {};
  e.Mx.resize(count);
  for (MXRecord& r : e.Mx)
    if (!ReadEntry(in, r)) return {};
  if (!in.GetText(e.Spare) || !in.GetDouble(e.Number)) return {};
  return e;
}

// The element count that a header number stands for, or nothing when it is
// not a usable size.
std::optional<size_t> HeaderCount(double number) {
  if (!std::isfinite(number)) return {};
  double n = std::nearbyint(number);
  if (n < 0 || n > kMaxElements) return {};
  return static_cast<size_t>(n);
}

}  // namespace

DnsCacheEntry DnsCacheHeader(double n) {
  DnsCacheEntry header;
  header.Mx.resize(1);
  header.Number = n;
  return header;
}

std::string EncodeDnsCacheFile(const std::vector<DnsCacheEntry>& elements) {
  std::string out;
  for (const DnsCacheEntry& e : elements) {
    PutText(out, e.Domain);
    PutLE<uint16_t>(out, 1);
    PutLE<uint32_t>(out, static_cast<uint32_t>(e.Mx.size()));
    PutLE<uint32_t>(out, 0);
    for (const MXRecord& r : e.Mx) {
      PutLE<uint16_t>(out, static_cast<uint16_t>(r.Order));
      PutText(out, r.Host);
      PutText(out, r.IP);
      PutDouble(out, r.TTL);
    }
    PutText(out, e.Spare);
    PutDouble(out, e.Number);
  }
  return out;
}

DecodedDnsCache DecodeDnsCacheFile(const std::string& bytes) {
  DecodedDnsCache result;
  Reader in(bytes);
  std::optional<DnsCacheEntry> header = ReadElement(in);
  if (!header) {
    result.elements.push_back(DnsCacheHeader(0));
    result.damaged = true;
    return result;
  }
  // A count that is no usable size says nothing: keep whatever is whole.
  std::optional<size_t> wanted = HeaderCount(header->Number);
  result.elements.push_back(std::move(*header));
  size_t stop = in.pos();
  while (!wanted || result.elements.size() <= *wanted) {
    std::optional<DnsCacheEntry> e = ReadElement(in);
    if (!e) break;
    result.elements.push_back(std::move(*e));
    stop = in.pos();
  }
  result.elements[0].Number = static_cast<double>(result.elements.size() - 1);
  result.damaged = !wanted || stop != bytes.size() || result.elements.size() <= *wanted;
  result.damage_offset = stop;
  return result;
}

}  // namespace dorvane
