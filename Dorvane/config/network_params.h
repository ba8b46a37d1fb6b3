// Discovery of the computer's host name and DNS servers: gethostname() and
// the nameserver lines of the resolver configuration file.
#pragma once

#include <string>
#include <vector>

namespace dorvane {

class Files;

// What the discovery found, and the file it reads.
struct NetworkParams {
  // The host name found by the last successful discovery; kept as it was
  // when a discovery fails (empty until one succeeds).
  std::string host_name;
  // Element 0: the number of DNS servers found, as decimal text; elements 1
  // to that number: their dotted IPv4 addresses in file order. When the
  // file is readable but names no IPv4 server, the list is "1" and one empty
  // address. When the discovery fails, the list is "0" alone.
  std::vector<std::string> dns_list{"0"};
  // The resolver configuration file the discovery reads.
  std::string resolv_conf_path = "/etc/resolv.conf";
};

// Fills `params`' host name and DNS list, reading its resolver file through
// `files`. Never fails: a failure leaves the list at "0".
void DiscoverNetworkParams(NetworkParams& params, Files& files);

// The computer's mail domain from its host name: the name without its first
// label, or the name itself when it has one label.
std::string MailDomainOf(const std::string& host_name);

// The dotted IPv4 addresses of the "nameserver" lines of `text`, in order.
// IPv6 and malformed addresses are skipped.
std::vector<std::string> ParseNameservers(const std::string& text);

}  // namespace dorvane
