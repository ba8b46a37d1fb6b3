#include "mx/cdns.h"

#include "base/dates.h"
#include "base/runtime_error.h"
#include "config/configuration.h"
#include "log/guard.h"
#include "log/logs.h"
#include "mx/dns_cache.h"

namespace dorvane {

const char kNoRoute[] = "NONE";

CDns::CDns(const Settings& settings, DnsCache& cache, const MxLookup& lookup, Logs& logs)
    : settings_(settings), cache_(cache), lookup_(lookup), logs_(logs) {}

// A library that cannot reach the server (an older one reports that as an
// error) fails this one resolution, not the relay.
std::string CDns::AskResolver(std::string& domain, const std::string& server) {
  try {
    return lookup_(domain, server);
  } catch (const RuntimeError& e) {
    logs_.DbgAdd("<FONT COLOR='#FF0000'>DNS: resolver error " + std::to_string(e.number()) + " (" +
                 HtmlEscape(e.source()) + "): " + HtmlEscape(e.description()) + "</FONT><BR>");
    return kDnsTimeout;
  }
}

void CDns::ResolveMx(const std::string& domain) {
  Guard("CLS:DNS[ResolveMx]", [&] {
    if (settings_.file.SmtpServerDefined) {
      const std::string& smarthost = settings_.running.SmtpServer;
      logs_.DbgAdd("<FONT COLOR='#FF8000'>Send using SMTP server: " + smarthost + "</FONT><BR>");
      MX.Add(0, smarthost, "", 0);
      return;
    }
    if (int k = cache_.Find(domain)) {
      logs_.DbgAdd("<FONT COLOR='#FF8000'>DNS: " + HtmlEscape(domain) + " found in cache</FONT><BR>");
      return ResolveFromCache(k);
    }
    ResolveThroughDns(domain);
  });
}

// A damaged or foreign file may hold entries no answer would give: the same
// rules as for an answer, and no hosts is no route, not an empty route that
// looks resolved.
void CDns::ResolveFromCache(int k) {
  const DnsCacheEntry& entry = cache_.At(k);
  const int before = MX.Count();
  for (size_t i = 1; i < entry.Mx.size() && MX.Count() - before < kMaxRouteHosts; ++i) {
    if (IsUsableHostName(entry.Mx[i].Host)) MX.Add(entry.Mx[i]);
  }
  if (MX.Count() == before) MX.At(0).Host = kNoRoute;
}

void CDns::ResolveThroughDns(const std::string& domain) {
  logs_.DbgAdd("<FONT COLOR='#FF8000'>DNS: " + HtmlEscape(domain) + " not in cache</FONT><BR>");
  const std::string server = settings_.running.DNSServer;
  if (!IsQueryableDomain(domain)) {
    logs_.DbgAdd("<FONT COLOR='#FF8000'>DNS: " + HtmlEscape(domain) + " is not a domain name</FONT><BR>");
    MX.At(0).Host = kNoRoute;
    return;
  }
  // The resolver may rewrite its argument; the route is cached under the
  // domain that was asked for, so the next lookup finds it.
  std::string asked = domain;
  std::string answer = AskResolver(asked, server);
  if (answer == kDnsTimeout) {
    logs_.MailLogAdd(GMTDate() + " Dorvane/smtpdistant: 421 No MX DNS available for " + domain +
                     " using NS " + server + " (time out) status=error");
    answer.clear();
  }
  CMXServer found = ParseMxAnswer(answer);
  if (found.Count() == 0) {
    MX.At(0).Host = kNoRoute;
    return;
  }
  MX.At(0).Host.clear();
  SortMXServer(found.Count(), found, true);
  for (int i = 1; i <= found.Count(); ++i) MX.Add(found.At(i));
  DNSAddCache(domain, found);
}

void CDns::DNSAddCache(const std::string& domain, const CMXServer& mx) {
  if (cache_.Find(domain)) return;
  cache_.Append(domain, mx);
}

void CDns::ClearMx() {
  MX.Clear();
  CurrentMX = 0;
}

}  // namespace dorvane
