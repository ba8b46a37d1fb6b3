// The pure rules of a resolution: the name asked for an address, which
// datagram is the answer to a query, and the record text made of it.
#pragma once

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

// The MX records of `answers` in their order, each as preference, "¤",
// exchanger, "¤", TTL and "|" (¤ is U+00A4, written in UTF-8). Other
// record types are skipped; "" when there is no MX record.
std::string MxRecordText(const CDNSResourceRecords& answers);

}  // namespace mxfinder
