// The pure rules of a resolution: the name asked for an address, which
// datagram is the answer to a query, and the record text made of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "dns/dns_message.h"

namespace mxfinder {

// The reverse-mapping name of a dotted IPv4 address: "1.2.3.4" gives
// "4.3.2.1.IN-ADDR.ARPA". "" when `name` is not four decimal numbers of
// 0 to 255 joined by ".".
std::string ReverseMappingName(const std::string& name);

// What the answer to one query must carry.
struct ExpectedAnswer {
  std::string server_ip;  // dotted address the query went to
  int32_t message_id = 0;
  std::string question_name;
};

// Whether `reply`, a datagram from `from_ip`:`from_port`, answers the
// query: a response from the server's address and port 53 with the query's
// identifier and the same single MX question (names compared without regard
// to ASCII case, as servers may echo another case).
bool IsAnswer(const ExpectedAnswer& query, const std::string& from_ip, int from_port,
              const CDNSMessage& reply);

// The text that a resolution gives when no usable answer came.
inline constexpr char kDnsTimeoutText[] = "ERROR_DNS_TIMEOUT";

// The most bytes MxRecordText ever returns. An honest answer of 512 bytes
// gives far less; whole records past the cap are left out.
inline constexpr std::size_t kMaxRecordText = 16384;

// Whether a decoded name may cross the component boundary: at most
// kMaxNameLength bytes and none of NUL, other control bytes, DEL, "|" or
// the byte A4 (¤, alone or as the second byte of its UTF-8 form), which
// would cut or forge records of the text.
bool IsSafeName(const std::string& name);

// The MX records of `answers` in their order, each as preference, "¤",
// exchanger, "¤", TTL and "|" (¤ is U+00A4, written in UTF-8). Other
// record types, and MX records whose owner or exchanger is not IsSafeName,
// are skipped; "" when there is no MX record. At most kMaxRecordText bytes.
std::string MxRecordText(const CDNSResourceRecords& answers);

// What a resolution gives for the answer `reply`: MxRecordText of its
// answers, or kDnsTimeoutText when it is truncated and that text is empty
// (the server could not fit the records: a failure, not "no MX").
std::string ResolutionText(const CDNSMessage& reply);

}  // namespace mxfinder
