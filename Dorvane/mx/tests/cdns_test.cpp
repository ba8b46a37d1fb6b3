#include "mx/cdns.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/runtime_error.h"
#include "config/configuration.h"
#include "log/logs.h"
#include "mx/dns_cache.h"
#include "mx/mx_lookup.h"
#include "tests/support/test_environment.h"

namespace dorvane {
namespace {

std::string Record(const std::string& pref, const std::string& host, const std::string& ttl) {
  return pref + "\xC2\xA4" + host + "\xC2\xA4" + ttl + "|";
}

// (Order, Host, TTL) of positions 1 to Count(), as one readable text.
std::string HostsOf(const CMXServer& mx) {
  std::string out;
  for (int i = 1; i <= mx.Count(); ++i)
    out += std::to_string(mx.Order(i)) + " " + mx.Host(i) + " " + std::to_string(static_cast<long long>(mx.TTL(i))) + ";";
  return out;
}

// Routes on their own cache, with debug mode on, no smarthost, DNS server
// 127.0.0.53 and a resolver that gives `answer_` and records what it was
// asked.
class ResolveMxTest : public ::testing::Test {
 protected:
  ResolveMxTest() {
    t_.settings.running = CConfiguration{};
    t_.settings.file = CConfiguration{};
    t_.settings.running.DNSServer = "127.0.0.53";
    t_.logs.SetDebugMode(true);
  }
  CDns Route() { return CDns(t_.settings, cache_, lookup_, t_.logs); }
  bool DebugLogHas(const std::string& text) const {
    return t_.program.Read("Debug.html").find(text) != std::string::npos;
  }

  TestEnvironment t_;
  DnsCache cache_{t_.files, t_.logs};
  std::string answer_;
  bool library_error_ = false;  // the resolver throws as an older library did offline
  std::vector<std::string> asked_;
  MxLookup lookup_ = [this](std::string& domain, const std::string& server) {
    asked_.push_back(domain + " @" + server);
    if (library_error_) Raise(10051, "CSocket.SendData", "Network is unreachable.");
    return answer_;
  };
};

TEST_F(ResolveMxTest, CacheMissesFollowTheAnswer) {
  const std::string timeout_line =
      " Dorvane/smtpdistant: 421 No MX DNS available for dom.test using NS 127.0.0.53 (time out) status=error";
  struct Case {
    std::string answer, hosts, mark;  // mark: Host(0)
    std::vector<std::string> mail_log;
    bool library_error = false;
  } cases[] = {
      {Record("20", "c", "1") + Record("10", "a", "2") + Record("10", "b", "3"), "10 a 2;10 b 3;20 c 1;", "", {}},
      {Record("5", "z", "1") + Record("5", "y", "1") + Record("5", "x", "1"), "5 z 1;5 y 1;5 x 1;", "", {}},
      {Record("0", "m", "4294967295"), "0 m 4294967295;", "", {}},
      {Record("65535", "far", "1") + Record("1", "near", "1"), "1 near 1;32767 far 1;", "", {}},
      {"junk|" + Record("x", "bad", "1") + Record("7", "ok", "9"), "7 ok 9;", "", {}},
      {"", "", "NONE", {}},
      {"10\xC2\xA4lonely|", "", "NONE", {}},
      {"ERROR_DNS_TIMEOUT", "", "NONE", {timeout_line}},
      {"", "", "NONE", {timeout_line}, true},
      // Hosts no honest server names: they must reach neither connects nor logs.
      {Record("1", "evil\r\nforged", "1") + Record("2", "<script>", "1") + Record("3", "", "1") +
           Record("4", std::string(256, 'a'), "1") + Record("5", std::string("nul\0.test", 9), "1") +
           Record("6", "a\xA4" "b", "1") + Record("9", "mx-1_b.test", "1"),
       "9 mx-1_b.test 1;", "", {}},
      {"\xFF\xFE|\xC2\xA4\xC2\xA4\xC2\xA4|ERROR_DNS_TIMEOUT|", "", "NONE", {}},
  };
  for (const Case& c : cases) {
    cache_.Reset();
    std::filesystem::remove(t_.program.Path("maillog.txt"));
    asked_.clear();
    answer_ = c.answer;
    library_error_ = c.library_error;
    CDns dns = Route();
    dns.ResolveMx("dom.test");
    EXPECT_EQ(HostsOf(dns.MX), c.hosts) << c.answer;
    EXPECT_EQ(dns.MX.Host(0), c.mark) << c.answer;
    EXPECT_EQ(asked_, std::vector<std::string>{"dom.test @127.0.0.53"});
    int k = cache_.Find("dom.test");
    EXPECT_EQ(k ? HostsOf(CMXServer(cache_.At(k).Mx)) : "not cached",
              c.hosts.empty() ? "not cached" : c.hosts);
    EXPECT_EQ(t_.LogLines("maillog.txt"), c.mail_log) << c.answer;
  }
  EXPECT_TRUE(DebugLogHas("<FONT COLOR='#FF8000'>DNS: dom.test not in cache</FONT><BR>"));
}

TEST_F(ResolveMxTest, RouteHoldsNoMoreHostsThanTheDispatcherCanCount) {
  for (int i = 0; i < 300; ++i) answer_ += Record(std::to_string(i), "mx" + std::to_string(i) + ".test", "1");
  CDns dns = Route();
  dns.ResolveMx("dom.test");
  ASSERT_EQ(dns.MX.Count(), 255);
  EXPECT_EQ(dns.MX.Host(255), "mx254.test");
}

TEST_F(ResolveMxTest, NamesReachTheDebugLogEscaped) {
  answer_ = Record("10", "mx.test", "1");
  CDns dns = Route();
  dns.ResolveMx("<b>.test");
  CDns again = Route();
  again.ResolveMx("<b>.test");
  library_error_ = true;
  CDns failed = Route();
  failed.ResolveMx("other.test");
  const std::string log = t_.program.Read("Debug.html");
  EXPECT_EQ(log.find("<b>"), std::string::npos) << log;
  EXPECT_TRUE(DebugLogHas("DNS: &lt;b&gt;.test not in cache"));
  EXPECT_TRUE(DebugLogHas("Add in DNS cache #1: &lt;b&gt;.test MX=mx.test"));
  EXPECT_TRUE(DebugLogHas("DNS: &lt;b&gt;.test found in cache"));
  EXPECT_TRUE(DebugLogHas("DNS: resolver error 10051 (CSocket.SendData): Network is unreachable."));
}

TEST_F(ResolveMxTest, SecondDeliveryIsServedFromTheCache) {
  answer_ = Record("20", "b", "1") + Record("10", "a", "1");
  CDns first = Route(), second = Route();
  first.ResolveMx("dom.test");
  second.ResolveMx("dom.test");
  EXPECT_EQ(asked_.size(), 1u);
  EXPECT_EQ(HostsOf(second.MX), "10 a 1;20 b 1;");
  EXPECT_TRUE(DebugLogHas("<FONT COLOR='#FF8000'>DNS: dom.test found in cache</FONT><BR>"));
}

TEST_F(ResolveMxTest, SmarthostIsTheWholeRouteWithoutDnsOrCache) {
  Settings own;  // the route reads the settings it is handed, no others
  own.file.SmtpServerDefined = true;
  own.running.SmtpServer = "relay.isp.test";
  CDns dns(own, cache_, lookup_, t_.logs);
  dns.ResolveMx("dom.test");
  EXPECT_EQ(HostsOf(dns.MX), "0 relay.isp.test 0;");
  EXPECT_EQ(dns.MX.Host(0), "");
  EXPECT_TRUE(asked_.empty());
  EXPECT_EQ(cache_.Count(), 0);
  EXPECT_TRUE(DebugLogHas("<FONT COLOR='#FF8000'>Send using SMTP server: relay.isp.test</FONT><BR>"));
}

TEST_F(ResolveMxTest, CachedEntryWithoutUsableHostsIsNoRoute) {
  CMXServer unusable;
  unusable.Add(10, "bad\r\nhost", "", 1);
  unusable.Add(20, "", "", 1);
  for (const CMXServer& hosts : {CMXServer{}, unusable}) {
    cache_.Reset();
    cache_.Append("dom.test", hosts);
    CDns dns = Route();
    dns.ResolveMx("dom.test");
    EXPECT_EQ(dns.MX.Count(), 0);
    EXPECT_EQ(dns.MX.Host(0), "NONE");
  }
}

TEST_F(ResolveMxTest, RacingResolutionsCacheTheDomainOnceUnderItsOwnName) {
  lookup_ = [this](std::string& domain, const std::string&) {
    CMXServer theirs;
    theirs.Add(5, "theirs", "", 1);
    Route().DNSAddCache(domain, theirs);  // another slot finished first
    domain = "4.3.2.1.IN-ADDR.ARPA";     // the resolver rewrites addresses
    return Record("10", "mine", "1");
  };
  CDns dns = Route();
  dns.ResolveMx("1.2.3.4");
  EXPECT_EQ(HostsOf(dns.MX), "10 mine 1;");
  EXPECT_EQ(cache_.Count(), 1);
  EXPECT_EQ(cache_.Find("1.2.3.4"), 1);
}

}  // namespace
}  // namespace dorvane

namespace dorvane {
namespace {

TEST(IsQueryableDomainTest, AcceptsOnlyNamesAQueryCanCarry) {
  const std::string label63(63, 'a');
  struct Case {
    std::string domain;
    bool ok;
  } cases[] = {
      {"example.com", true},       {"example.com.", true},     {"a", true},
      {label63 + ".com", true},    {label63 + "a.com", false}, {"", false},
      {".", false},                {"a..b", false},            {".a", false},
      {std::string(254, 'a'), false}, {std::string("a\0b.com", 7), false},
      {"a b.com", false},          {"a\nb.com", false},        {"a\x7F.com", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsQueryableDomain(c.domain), c.ok) << c.domain;
}

TEST_F(ResolveMxTest, AnOverlongLabelGivesNoRouteWithoutAskingDns) {
  CDns dns = Route();
  dns.ResolveMx(std::string(64, 'x') + ".test");
  EXPECT_EQ(dns.MX.Host(0), "NONE");
  EXPECT_TRUE(asked_.empty());
}

}  // namespace
}  // namespace dorvane
