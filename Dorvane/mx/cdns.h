// CDns: the route of one outbound slot, the list of hosts to try for the
// destination domain: the configured smarthost alone, or the domain's MX
// hosts in preference order, from the DNS cache or from the resolver.
#pragma once

#include <cstdint>
#include <string>

#include "mx/mx_lookup.h"
#include "mx/mx_server.h"

namespace dorvane {

class DnsCache;
class Logs;
struct Settings;

extern const char kNoRoute[];  // "NONE", the mark of MX.Host(0)

class CDns {
 public:
  // A route that reads the smarthost and DNS server from `settings`, keeps
  // what it resolves in `cache`, asks `lookup` on a cache miss and logs to
  // `logs`; all four must outlive it.
  CDns(const Settings& settings, DnsCache& cache, const MxLookup& lookup, Logs& logs);

  // Position in MX of the host being contacted; kept by the dispatcher.
  uint8_t CurrentMX = 0;
  // The hosts of the current delivery, positions 1 to MX.Count().
  CMXServer MX;

  // Appends the route of `domain` to MX. With a smarthost in Dorvane.ini:
  // that host alone (Order 0), no DNS and no cache. Otherwise the cached
  // hosts, or the resolver's, sorted by preference (stable) and cached.
  // MX.Host(0) becomes "NONE" when no host was found (time-out, empty
  // answer, an error of the resolver library, which is logged as a
  // time-out) and "" when hosts were found on a cache miss. Guarded: an
  // unexpected error ends the program ("CLS:DNS[ResolveMx]").
  void ResolveMx(const std::string& domain);

  // Adds `domain` with a copy of hosts 1 to mx.Count() to the DNS cache,
  // unless another slot cached it while this one waited for the resolver.
  void DNSAddCache(const std::string& domain, const CMXServer& mx);

  // Empties the route (slot release).
  void ClearMx();

 private:
  void ResolveFromCache(int k);
  void ResolveThroughDns(const std::string& domain);
  // The resolver's answer, or kDnsTimeout when it failed with an error.
  std::string AskResolver(std::string& domain, const std::string& server);

  const Settings& settings_;
  DnsCache& cache_;
  const MxLookup& lookup_;
  Logs& logs_;
};

}  // namespace dorvane
