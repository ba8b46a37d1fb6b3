#include "dns/byte_reader.h"

#include "dns/dns_error.h"

namespace mxfinder {

namespace {
// Positions are 16-bit signed on the wire format's side.
constexpr int kMaxPosition = 32767;
}  // namespace

ByteReader::ByteReader(const std::string& data, int position, const char* source)
    : data_(data), position_(position), source_(source) {}

int ByteReader::Take(int count) {
  const long long size = static_cast<long long>(data_.size());
  const long long next = static_cast<long long>(position_) + count;
  if (position_ < 0 || count < 0 || next > size) RaiseDnsError(kDnsErrSubscript, source_);
  if (next > kMaxPosition) RaiseDnsError(kDnsErrOverflow, source_);
  const int start = position_;
  position_ = static_cast<int>(next);
  return start;
}

uint8_t ByteReader::PeekU8() const {
  if (position_ < 0 || static_cast<std::size_t>(position_) >= data_.size()) RaiseDnsError(kDnsErrSubscript, source_);
  return static_cast<uint8_t>(data_[static_cast<std::size_t>(position_)]);
}

uint8_t ByteReader::ReadU8() { return static_cast<uint8_t>(data_[static_cast<std::size_t>(Take(1))]); }

uint16_t ByteReader::ReadU16() {
  const uint16_t high = ReadU8();
  return static_cast<uint16_t>(high << 8 | ReadU8());
}

uint32_t ByteReader::ReadU32() {
  const uint32_t high = ReadU16();
  return high << 16 | ReadU16();
}

std::string ByteReader::ReadBytes(int count) {
  const int start = Take(count);
  return data_.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(count));
}

void ByteReader::Skip(int count) { Take(count); }

}  // namespace mxfinder
