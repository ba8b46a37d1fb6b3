// Builds DNS datagrams byte by byte for the codec tests, so each test shows
// the wire layout it feeds in.
#pragma once

#include <cstdint>
#include <string>

#include "resolver/component_error.h"

namespace mxfinder::testing {

// The wire form of `name` as plain labels ending with the zero byte.
std::string Labels(const std::string& name);
// A compression pointer to `offset`.
std::string Pointer(int offset);

class Packet {
 public:
  // Header: identifier, the two flag bytes as one value, the four counts.
  Packet& Header(uint16_t id, uint16_t flags, uint16_t qd, uint16_t an, uint16_t ns, uint16_t ar);
  Packet& U8(uint8_t v);
  Packet& U16(uint16_t v);
  Packet& U32(uint32_t v);
  Packet& Raw(const std::string& bytes);
  Packet& Question(const std::string& name, uint16_t type, uint16_t qclass);
  // A record: `owner` already in wire form, RDLENGTH from `rdata`.
  Packet& Record(const std::string& owner, uint16_t type, uint32_t ttl, const std::string& rdata);

  int size() const { return static_cast<int>(bytes_.size()); }
  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

// RDATA of an MX record: preference, then `exchange` in wire form.
std::string MxRData(uint16_t preference, const std::string& exchange);

// A typical recursive answer for "example.com" MX: two MX answers (the
// second compressed against the first), one NS authority, one A and one
// AAAA additional record.
std::string GoodMxAnswer();

// The number and source of the ComponentError that `body` throws; number 0
// when it throws none.
struct Failure {
  long number = 0;
  std::string source;
};
template <class F>
Failure FailureOf(F&& body) {
  try {
    body();
  } catch (const ComponentError& e) {
    return {e.number(), e.source()};
  }
  return {};
}

}  // namespace mxfinder::testing
