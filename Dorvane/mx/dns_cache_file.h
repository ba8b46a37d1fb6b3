// The byte format of Hosts.dns: elements 0 to N of the DNS cache, each written
// field by field, little-endian, no padding, no magic:
//   domain       u16 length + bytes
//   MX list      u16 dimensions (1), u32 element count E, u32 lower bound (0),
//                then E entries: i16 Order, u16+bytes Host, u16+bytes IP,
//                f64 TTL (position 0 is the empty placeholder)
//   spare text   u16 length + bytes (always empty)
//   number       f64 (element 0: N; every other element: 0)
// Pure functions over byte strings; no file access.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "mx/mx_server.h"

namespace dorvane {

struct DnsCacheEntry {
  std::string Domain;
  std::vector<MXRecord> Mx;  // positions 0 to n; position 0 the placeholder
  std::string Spare;
  double Number = 0;

  bool operator==(const DnsCacheEntry&) const = default;
};

// The header element 0 with the number N.
DnsCacheEntry DnsCacheHeader(double n);

// Encodes the elements as they are (the caller sets element 0's Number).
// A text longer than 65535 bytes throws RuntimeError 6 (overflow).
std::string EncodeDnsCacheFile(const std::vector<DnsCacheEntry>& elements);

struct DecodedDnsCache {
  // Element 0 (always present, its Number set to the count loaded) and the
  // whole elements 1 to N that the file holds.
  std::vector<DnsCacheEntry> elements;
  // Whether the bytes were anything but a header and exactly N whole
  // elements; `damage_offset` is where reading stopped.
  bool damaged = false;
  size_t damage_offset = 0;
};

// Decodes a file's bytes. Never throws on damaged input: it keeps the
// elements 1 to N (N from element 0) that are whole before the first damaged
// or missing byte; when element 0's number is no usable size, every whole
// element that follows it.
DecodedDnsCache DecodeDnsCacheFile(const std::string& bytes);

}  // namespace dorvane
