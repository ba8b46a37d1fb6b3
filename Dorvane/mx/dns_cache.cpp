#include "mx/dns_cache.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <unordered_map>
#include <vector>

#include "log/dates.h"
#include "log/logs.h"
#include "log/runtime_error.h"
#include "service/program.h"

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

// Writes `bytes` to `path` through `path`.tmp, flushed to disk, then renamed
// over the old file: readers see either the old or the new file, whole.
void WriteFileAtomically(const std::string& path, const std::string& bytes, const char* source) {
  std::string tmp = path + ".tmp";
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) Raise(kErrPermissionDenied, source, ErrorDescription(kErrPermissionDenied) + ": " + tmp);
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  bool ok = done == bytes.size() && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (ok && std::rename(tmp.c_str(), path.c_str()) == 0) return;
  ::unlink(tmp.c_str());
  Raise(kErrPermissionDenied, source, "Write failed: " + path);
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
    WriteFileAtomically(ProgramPath(kCacheFile), EncodeDnsCacheFile(cache.table), "DNSWriteCache");
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
    DbgAdd("<FONT COLOR='#FF8000'>Add in DNS cache #" + std::to_string(k) + ": " + domain +
               " MX=" + mx.Host(i) + "</FONT><BR>",
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
