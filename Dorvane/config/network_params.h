// Discovery of the computer's host name and DNS servers: gethostname() and
// the nameserver lines of the resolver configuration file.
#pragma once

#include <string>
#include <vector>

namespace dorvane {

// The host name found by the last successful discovery; kept as it was when
// a discovery fails (empty until one succeeds).
extern std::string NetHostName;

// Element 0: the number of DNS servers found, as decimal text; elements 1 to
// that number: their dotted IPv4 addresses in file order. When the file is
// readable but names no IPv4 server, the list is "1" and one empty address.
// When the discovery fails, the list is "0" alone.
extern std::vector<std::string> DNSList;

// Fills NetHostName and DNSList. Never fails: a failure leaves DNSList at "0".
void DiscoverNetworkParams();

// The resolver configuration file read by the discovery; "/etc/resolv.conf"
// unless a test names another.
void SetResolvConfPath(const std::string& path);

// The dotted IPv4 addresses of the "nameserver" lines of `text`, in order.
// IPv6 and malformed addresses are skipped.
std::vector<std::string> ParseNameservers(const std::string& text);

}  // namespace dorvane
