// ByteReader: reads big-endian fields from a datagram held as a byte string.
// Every read is checked: reading past the end of the data fails with error 9,
// and a position beyond 32767 (the positions of the wire format are 16-bit
// signed) fails with error 6. Nothing is ever read out of bounds.
#pragma once

#include <cstdint>
#include <string>

namespace mxfinder {

class ByteReader {
 public:
  // Reads `data` from `position`; errors carry `source`. `data` must outlive
  // the reader.
  ByteReader(const std::string& data, int position, const char* source);

  int position() const { return position_; }
  const std::string& data() const { return data_; }
  const char* source() const { return source_; }

  // The byte at the position, without moving.
  uint8_t PeekU8() const;
  uint8_t ReadU8();
  uint16_t ReadU16();
  uint32_t ReadU32();
  // The next `count` bytes as a byte string.
  std::string ReadBytes(int count);
  // Moves `count` bytes forward; the new position must lie within the data
  // (the end itself is allowed).
  void Skip(int count);

 private:
  // Fails unless `count` bytes are left at the position; then moves past them
  // and returns where they started.
  int Take(int count);

  const std::string& data_;
  int position_;
  const char* source_;
};

}  // namespace mxfinder
