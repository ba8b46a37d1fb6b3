// The DNS cache: the MX hosts of every domain resolved so far, kept in
// Hosts.dns in the program folder between service runs. Entries never
// expire; the table only grows between a load and a save. Element 0 is the
// header; domains are elements 1 to N in the order they were first added.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "mx/dns_cache_file.h"
#include "mx/mx_server.h"

namespace dorvane {

class Files;
class Logs;

class DnsCache {
 public:
  // An empty cache that keeps its file through `files` and logs to `logs`;
  // both must outlive it.
  DnsCache(Files& files, Logs& logs);

  // Loads Hosts.dns (service start): replaces the table with every whole
  // element the file holds and indexes their domains. No file gives an
  // empty cache. A damaged or truncated file is reported in the mail log and
  // what is whole before the damage is kept. Logs "Loading DNS cache: N"
  // (debug, kind 4) and " Dorvane Loading DNS cache (N) [OK]" (mail log).
  // Guarded ("MOD:DNS[DNSOpenCache]"): an unreadable file ends the program
  // through ProgramError.
  void Open();

  // Saves the table to Hosts.dns (service stop), staged beside it and
  // renamed over it so a crash never leaves a half-written cache. Logs
  // "Writing DNS cache: N" and " Dorvane Writing DNS cache (N) [OK]".
  // Guarded ("MOD:DNS[DNSWriteCache]").
  void Write();

  // The element index of `domain` (exact, case-sensitive), or 0 when the
  // domain is not cached.
  int Find(const std::string& domain) const;

  // Element k (0 to Count()); another k throws RuntimeError 9.
  const DnsCacheEntry& At(int k) const;

  // N: the number of domain elements.
  int Count() const { return static_cast<int>(table_.size()) - 1; }

  // Appends `domain` with a copy of hosts 1 to Count() of `mx` (an empty
  // placeholder at position 0), indexes it and logs one "Add in DNS cache
  // #k" debug line per host. Returns k. Does not check for an existing
  // entry.
  int Append(const std::string& domain, const CMXServer& mx);

  // Empties the table and its index (as before any load).
  void Reset();

 private:
  void Reindex();

  Files& files_;
  Logs& logs_;
  std::vector<DnsCacheEntry> table_{DnsCacheHeader(0)};
  std::unordered_map<std::string, int> index_;
};

}  // namespace dorvane
