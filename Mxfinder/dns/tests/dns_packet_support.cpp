#include "dns_packet_support.h"

namespace mxfinder::testing {

std::string Labels(const std::string& name) {
  std::string out;
  std::size_t start = 0;
  while (start < name.size()) {
    std::size_t dot = name.find('.', start);
    if (dot == std::string::npos) dot = name.size();
    out += static_cast<char>(dot - start);
    out += name.substr(start, dot - start);
    start = dot + 1;
  }
  return out + '\0';
}

std::string Pointer(int offset) {
  return {static_cast<char>(0xC0 | offset >> 8), static_cast<char>(offset & 0xFF)};
}

Packet& Packet::Header(uint16_t id, uint16_t flags, uint16_t qd, uint16_t an, uint16_t ns, uint16_t ar) {
  return U16(id).U16(flags).U16(qd).U16(an).U16(ns).U16(ar);
}

Packet& Packet::U8(uint8_t v) {
  bytes_ += static_cast<char>(v);
  return *this;
}

Packet& Packet::U16(uint16_t v) { return U8(static_cast<uint8_t>(v >> 8)).U8(static_cast<uint8_t>(v)); }

Packet& Packet::U32(uint32_t v) { return U16(static_cast<uint16_t>(v >> 16)).U16(static_cast<uint16_t>(v)); }

Packet& Packet::Raw(const std::string& bytes) {
  bytes_ += bytes;
  return *this;
}

Packet& Packet::Question(const std::string& name, uint16_t type, uint16_t qclass) {
  return Raw(Labels(name)).U16(type).U16(qclass);
}

Packet& Packet::Record(const std::string& owner, uint16_t type, uint32_t ttl, const std::string& rdata) {
  return Raw(owner).U16(type).U16(1).U32(ttl).U16(static_cast<uint16_t>(rdata.size())).Raw(rdata);
}

std::string MxRData(uint16_t preference, const std::string& exchange) {
  return Packet().U16(preference).Raw(exchange).bytes();
}

std::string GoodMxAnswer() {
  Packet p;
  p.Header(0x4D58, 0x8180, 1, 2, 1, 2).Question("example.com", 15, 1);  // name at 12
  p.Record(Pointer(12), 15, 3600, MxRData(10, Labels("mx1.example.com")));
  const int mx1 = p.size() - 17;  // "mx1.example.com" is the last 17 bytes
  p.Record(Pointer(12), 15, 3600, MxRData(20, std::string("\x03" "mx2") + Pointer(mx1 + 4)));
  p.Record(Pointer(12), 2, 86400, Labels("ns.example.net"));
  p.Record(Pointer(mx1), 1, 300, std::string("\xC0\x00\x02\x0A", 4));
  p.Record(Pointer(mx1), 28, 300, std::string(16, '\x01'));
  return p.bytes();
}

}  // namespace mxfinder::testing
