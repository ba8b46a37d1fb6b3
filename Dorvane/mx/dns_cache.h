// The program-wide DNS cache: the MX hosts of every domain resolved so far,
// kept in Hosts.dns in the program folder between service runs. Entries never
// expire; the table only grows between a load and a save. Element 0 is the
// header; domains are elements 1 to N in the order they were first added.
#pragma once

#include <string>

#include "mx/dns_cache_file.h"
#include "mx/mx_server.h"

namespace dorvane {

// Loads Hosts.dns (service start): replaces the table with every whole
// element the file holds and indexes their domains. No file gives an empty
// cache. A damaged or truncated file is reported in the mail log and what is
// whole before the damage is kept. Logs "Loading DNS cache: N" (debug, kind
// 4) and " Dorvane Loading DNS cache (N) [OK]" (mail log). Guarded: an
// unreadable file ends the program through ProgramError.
void DNSOpenCache();

// Saves the table to Hosts.dns (service stop), staged beside it and renamed
// over it so a crash never leaves a half-written cache. Logs "Writing DNS
// cache: N" and " Dorvane Writing DNS cache (N) [OK]". Guarded.
void DNSWriteCache();

// The element index of `domain` (exact, case-sensitive), or 0 when the
// domain is not cached.
int DnsCacheFind(const std::string& domain);

// Element k (0 to DnsCacheCount()); another k throws RuntimeError 9.
const DnsCacheEntry& DnsCacheAt(int k);

// N: the number of domain elements.
int DnsCacheCount();

// Appends `domain` with a copy of hosts 1 to Count() of `mx` (an empty
// placeholder at position 0), indexes it and logs one "Add in DNS cache #k"
// debug line per host. Returns k. Does not check for an existing entry.
int DnsCacheAppend(const std::string& domain, const CMXServer& mx);

// Empties the table and its index (as before any load).
void DnsCacheReset();

}  // namespace dorvane
