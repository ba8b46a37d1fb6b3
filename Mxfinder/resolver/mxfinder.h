// CMxfinder: the library's one public class. It answers which mail
// exchangers a domain has, asking one DNS server over UDP.
#pragma once

#include <string>

namespace mxfinder {

class CMxfinder {
 public:
  CMxfinder();
  ~CMxfinder();
  CMxfinder(const CMxfinder&) = delete;
  CMxfinder& operator=(const CMxfinder&) = delete;

  // "3.0".
  std::string GetVer() const;

  // Sends one MX query for `domain_to_resolve` to `dns_server` (a dotted
  // address or a name) and waits up to 5 seconds while the calling thread's
  // events keep running. A dotted IPv4 `domain_to_resolve` is rewritten in
  // place to its reverse-mapping name first. Returns the MX records as
  // preference "¤" host "¤" TTL "|" each, in answer order; "" when the answer
  // has none; "ERROR_DNS_TIMEOUT" when no answer came. Throws
  // mxfinder::ComponentError when the query cannot be set up.
  std::string ResolveDnsQuery(std::string& domain_to_resolve, const std::string& dns_server);
};

}  // namespace mxfinder
