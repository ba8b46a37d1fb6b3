#include "mx/dns_cache.h"

#include <cerrno>
#include <cstdio>
#include <unordered_map>
#include <vector>

#include "base/dates.h"
#include "base/program.h"
#include "base/runtime_error.h"
#include "log/guard.h"
#include "log/logs.h"
#include "spool/spool_file.h"

namespace dorvane {
namespace {

const char kCacheFile[] = "Hosts.dns";

struct Cache {
  std::vector<DnsCacheEntry> table{DnsCacheHeader(0)};
  std::unordered_map<std::string, int> index;
};

Cache& TheCache() {
  static Cache cache;
  return cache;
}

// The whole file, or false when it does not exist.
bool ReadWholeFile(const std::string& path, std::string& bytes, const char* source) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f && errno == ENOENT) return false;
  if (!f) Raise(kErrPermissionDenied, source, ErrorDescription(kErrPermissionDenied) + ": " + path);
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.append(buf, n);
  bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) Raise(kErrPermissionDenied, source, "Read failed: " + path);
  return true;
}

void Reindex(Cache& cache) {
  cache.index.clear();
  for (size_t i = 1; i < cache.table.size(); ++i) cache.index[cache.table[i].Domain] = static_cast<int>(i);
}

}  // namespace

void DNSOpenCache() {
  Guard("MOD:DNS[DNSOpenCache]", [] {
    Cache& cache = TheCache();
    std::string bytes;
    DecodedDnsCache decoded;
    decoded.elements.push_back(DnsCacheHeader(0));
    if (ReadWholeFile(ProgramPath(kCacheFile), bytes, "DNSOpenCache")) decoded = DecodeDnsCacheFile(bytes);
    cache.table = std::move(decoded.elements);
    Reindex(cache);
    std::string n = std::to_string(DnsCacheCount());
    if (decoded.damaged)
      MailLogAdd(GMTDate() + " Dorvane DNS cache file Hosts.dns damaged at byte " +
                 std::to_string(decoded.damage_offset) + " of " + std::to_string(bytes.size()) +
                 ": kept the " + n + " whole entries before it");
    DbgAdd("Loading DNS cache: " + n + "<BR>", kDbgDnsCache);
    MailLogAdd(GMTDate() + " Dorvane Loading DNS cache (" + n + ") [OK]");
  });
}

void DNSWriteCache() {
  Guard("MOD:DNS[DNSWriteCache]", [] {
    Cache& cache = TheCache();
    cache.table[0].Number = static_cast<double>(DnsCacheCount());
    // Staged, flushed and renamed over the old file: a crash leaves the old
    // cache or the new one, whole.
    SpoolWriteBatch write("DNSWriteCache");
    write.Stage(ProgramPath(kCacheFile), EncodeDnsCacheFile(cache.table));
    write.Commit();
    std::string n = std::to_string(DnsCacheCount());
    DbgAdd("Writing DNS cache: " + n + "<BR>", kDbgDnsCache);
    MailLogAdd(GMTDate() + " Dorvane Writing DNS cache (" + n + ") [OK]");
  });
}

int DnsCacheFind(const std::string& domain) {
  const Cache& cache = TheCache();
  auto it = cache.index.find(domain);
  return it == cache.index.end() ? 0 : it->second;
}

const DnsCacheEntry& DnsCacheAt(int k) {
  const Cache& cache = TheCache();
  if (k < 0 || k > DnsCacheCount()) Raise(kErrSubscript, "DnsCache", ErrorDescription(kErrSubscript));
  return cache.table[static_cast<size_t>(k)];
}

int DnsCacheCount() { return static_cast<int>(TheCache().table.size()) - 1; }

int DnsCacheAppend(const std::string& domain, const CMXServer& mx) {
  Cache& cache = TheCache();
  int k = DnsCacheCount() + 1;
  DnsCacheEntry entry;
  entry.Domain = domain;
  entry.Mx.emplace_back();
  for (int i = 1; i <= mx.Count(); ++i) {
    entry.Mx.push_back(mx.At(i));
    DbgAdd("<FONT COLOR='#FF8000'>Add in DNS cache #" + std::to_string(k) + ": " + HtmlEscape(domain) +
               " MX=" + HtmlEscape(mx.Host(i)) + "</FONT><BR>",
           kDbgPlain);
  }
  cache.table.push_back(std::move(entry));
  cache.index[domain] = k;
  return k;
}

void DnsCacheReset() {
  Cache& cache = TheCache();
  cache.table.assign(1, DnsCacheHeader(0));
  cache.index.clear();
}

}  // namespace dorvane
