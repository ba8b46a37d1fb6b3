// The resolver that MX resolution asks on a cache miss, and the format of its
// answer: one record per MX host, "pref¤host¤ttl|" (¤ is U+00A4 in UTF-8),
// in the order of the DNS answer; "" when there is no MX host;
// "ERROR_DNS_TIMEOUT" when the DNS server did not answer.
#pragma once

#include <functional>
#include <string>

#include "mx/mx_server.h"

namespace dorvane {

extern const char kDnsTimeout[];  // "ERROR_DNS_TIMEOUT"

// Asks DNS server `server` for the MX records of `domain`; may rewrite
// `domain` (a dotted IPv4 address becomes its reverse-mapping name).
using MxLookup = std::function<std::string(std::string& domain, const std::string& server)>;

// A lookup through the resolver library (MxfinderClient), loaded at its
// first use; a failed load throws and is tried again at the next lookup.
// Copies share the loaded library.
MxLookup LibraryMxLookup();

// Whether `domain` can be asked in a DNS query at all: 1 to 253 bytes,
// labels of 1 to 63 bytes, no space, control byte or DEL. The resolver
// library refuses over-long names with an error that would end the program,
// a NUL would cut the name it is given, and a recipient domain comes from
// whoever sent the mail.
bool IsQueryableDomain(const std::string& domain);

// Whether `host` may be used as an exchanger: 1 to 255 bytes of letters,
// digits, "-", "_" and ".". Anything else in an answer comes from a hostile
// server or a broken library, and would reach connects and logs.
bool IsUsableHostName(const std::string& host);

// The most hosts one route holds: the dispatcher counts them in a byte.
inline constexpr int kMaxRouteHosts = 255;

// The hosts of an answer, in answer order, at positions 1 to n (at most
// kMaxRouteHosts: later records are not read). A record that is not three
// fields with a numeric preference and an IsUsableHostName host is skipped;
// a preference above 32767 (DNS allows up to 65535) is kept as 32767 so it
// still sorts last; a TTL that is not a number reads as 0. Any text at all
// gives a list, never an error.
CMXServer ParseMxAnswer(const std::string& answer);

}  // namespace dorvane
