#include "mx/cdns.h"

#include "base/dates.h"
#include "base/runtime_error.h"
#include "config/configuration.h"
#include "log/guard.h"
#include "log/logs.h"
#include "mx/dns_cache.h"
#include "mx/mx_lookup.h"

namespace dorvane {
namespace {

// The resolver's answer, or kDnsTimeout when it failed with an error: a
// library that cannot reach the server (an older one reports that as an
// error) fails this one resolution, not the relay.
std::string AskResolver(std::string& domain, const std::string& server) {
  try {
    return RunMxLookup(domain, server);
  } catch (const RuntimeError& e) {
    DbgAdd("<FONT COLOR='#FF0000'>DNS: resolver error " + std::to_string(e.number()) + " (" +
           HtmlEscape(e.source()) + "): " + HtmlEscape(e.description()) + "</FONT><BR>");
    return kDnsTimeout;
  }
}

}  // namespace

const char kNoRoute[] = "NONE";

void CDns::ResolveMx(const std::string& domain) {
  Guard("CLS:DNS[ResolveMx]", [&] {
    if (FileConfig().SmtpServerDefined) {
      DbgAdd("<FONT COLOR='#FF8000'>Send using SMTP server: " + Config().SmtpServer + "</FONT><BR>");
      MX.Add(0, Config().SmtpServer, "", 0);
      return;
    }
    if (int k = DnsCacheFind(domain)) {
      DbgAdd("<FONT COLOR='#FF8000'>DNS: " + HtmlEscape(domain) + " found in cache</FONT><BR>");
      // A damaged or foreign file may hold entries no answer would give:
      // the same rules as for an answer, and no hosts is no route, not an
      // empty route that looks resolved.
      const DnsCacheEntry& entry = DnsCacheAt(k);
      const int before = MX.Count();
      for (size_t i = 1; i < entry.Mx.size() && MX.Count() - before < kMaxRouteHosts; ++i) {
        if (IsUsableHostName(entry.Mx[i].Host)) MX.Add(entry.Mx[i]);
      }
      if (MX.Count() == before) MX.At(0).Host = kNoRoute;
      return;
    }
    ResolveThroughDns(domain);
  });
}

void CDns::ResolveThroughDns(const std::string& domain) {
  DbgAdd("<FONT COLOR='#FF8000'>DNS: " + HtmlEscape(domain) + " not in cache</FONT><BR>");
  const std::string server = Config().DNSServer;
  if (!IsQueryableDomain(domain)) {
    DbgAdd("<FONT COLOR='#FF8000'>DNS: " + HtmlEscape(domain) + " is not a domain name</FONT><BR>");
    MX.At(0).Host = kNoRoute;
    return;
  }
  // The resolver may rewrite its argument; the route is cached under the
  // domain that was asked for, so the next lookup finds it.
  std::string asked = domain;
  std::string answer = AskResolver(asked, server);
  if (answer == kDnsTimeout) {
    MailLogAdd(GMTDate() + " Dorvane/smtpdistant: 421 No MX DNS available for " + domain +
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
  if (DnsCacheFind(domain)) return;
  DnsCacheAppend(domain, mx);
}

void CDns::ClearMx() {
  MX.Clear();
  CurrentMX = 0;
}

}  // namespace dorvane
