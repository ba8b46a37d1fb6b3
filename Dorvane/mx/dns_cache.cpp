#include "mx/dns_cache.h"

#include <cerrno>

#include "base/dates.h"
#include "base/files.h"
#include "base/program.h"
#include "base/runtime_error.h"
#include "log/guard.h"
#include "log/logs.h"
#include "spool/spool_file.h"

namespace dorvane {
namespace {

const char kCacheFile[] = "Hosts.dns";

// The whole file, or false when it does not exist.
bool ReadWholeFile(Files& files, const std::string& path, std::string& bytes, const char* source) {
  int err = files.Read(path, &bytes);
  if (err == ENOENT) return false;
  if (err != 0) Raise(kErrPermissionDenied, source, ErrorDescription(kErrPermissionDenied) + ": " + path);
  return true;
}

}  // namespace

DnsCache::DnsCache(Files& files, Logs& logs) : files_(files), logs_(logs) {}

void DnsCache::Reindex() {
  index_.clear();
  for (size_t i = 1; i < table_.size(); ++i) index_[table_[i].Domain] = static_cast<int>(i);
}

void DnsCache::Open() {
  Guard("MOD:DNS[DNSOpenCache]", [this] {
    std::string bytes;
    DecodedDnsCache decoded;
    decoded.elements.push_back(DnsCacheHeader(0));
    if (ReadWholeFile(files_, ProgramPath(kCacheFile), bytes, "DNSOpenCache"))
      decoded = DecodeDnsCacheFile(bytes);
    table_ = std::move(decoded.elements);
    Reindex();
    std::string n = std::to_string(Count());
    if (decoded.damaged)
      logs_.MailLogAdd(GMTDate() + " Dorvane DNS cache file Hosts.dns damaged at byte " +
                       std::to_string(decoded.damage_offset) + " of " + std::to_string(bytes.size()) +
                       ": kept the " + n + " whole entries before it");
    logs_.DbgAdd("Loading DNS cache: " + n + "<BR>", kDbgDnsCache);
    logs_.MailLogAdd(GMTDate() + " Dorvane Loading DNS cache (" + n + ") [OK]");
  });
}

void DnsCache::Write() {
  Guard("MOD:DNS[DNSWriteCache]", [this] {
    table_[0].Number = static_cast<double>(Count());
    // Staged, flushed and renamed over the old file: a crash leaves the old
    // cache or the new one, whole.
    SpoolWriteBatch write(files_, "DNSWriteCache");
    write.Stage(ProgramPath(kCacheFile), EncodeDnsCacheFile(table_));
    write.Commit();
    std::string n = std::to_string(Count());
    logs_.DbgAdd("Writing DNS cache: " + n + "<BR>", kDbgDnsCache);
    logs_.MailLogAdd(GMTDate() + " Dorvane Writing DNS cache (" + n + ") [OK]");
  });
}

int DnsCache::Find(const std::string& domain) const {
  auto it = index_.find(domain);
  return it == index_.end() ? 0 : it->second;
}

const DnsCacheEntry& DnsCache::At(int k) const {
  if (k < 0 || k > Count()) Raise(kErrSubscript, "DnsCache", ErrorDescription(kErrSubscript));
  return table_[static_cast<size_t>(k)];
}

int DnsCache::Append(const std::string& domain, const CMXServer& mx) {
  int k = Count() + 1;
  DnsCacheEntry entry;
  entry.Domain = domain;
  entry.Mx.emplace_back();
  for (int i = 1; i <= mx.Count(); ++i) {
    entry.Mx.push_back(mx.At(i));
    logs_.DbgAdd("<FONT COLOR='#FF8000'>Add in DNS cache #" + std::to_string(k) + ": " + HtmlEscape(domain) +
                     " MX=" + HtmlEscape(mx.Host(i)) + "</FONT><BR>",
                 kDbgPlain);
  }
  table_.push_back(std::move(entry));
  index_[domain] = k;
  return k;
}

void DnsCache::Reset() {
  table_.assign(1, DnsCacheHeader(0));
  index_.clear();
}

}  // namespace dorvane
