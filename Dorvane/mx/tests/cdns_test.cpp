#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "config/configuration.h"
#include "mx/cdns.h"
#include "mx/dns_cache.h"
#include "log/runtime_error.h"
#include "mx/mx_lookup.h"
#include "mx_support.h"

namespace dorvane {
namespace {

using testing::MxFolderTest;

const std::string kSep = "\xC2\xA4";

std::string Record(const std::string& pref, const std::string& host, const std::string& ttl) {
  return pref + kSep + host + kSep + ttl + "|";
}

struct Host {
  int16_t order;
  std::string host;
  double ttl;
  bool operator==(const Host&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Host& h) {
  return os << "(" << h.order << " " << h.host << " " << h.ttl << ")";
}

std::vector<Host> HostsOf(const CMXServer& mx) {
  std::vector<Host> out;
  for (int i = 1; i <= mx.Count(); ++i) out.push_back({mx.Order(i), mx.Host(i), mx.TTL(i)});
  return out;
}

// A resolver that answers from a script and records what it was asked.
class ResolveMxTest : public MxFolderTest {
 protected:
  void SetUp() override {
    MxFolderTest::SetUp();
    previous_ = SetMxLookup([this](std::string& domain, const std::string& server) {
      asked_.push_back(domain + " @" + server);
      return answer_;
    });
  }
  void TearDown() override {
    SetMxLookup(previous_);
    MxFolderTest::TearDown();
  }

  std::string answer_;
  std::vector<std::string> asked_;
  MxLookup previous_;
};

TEST_F(ResolveMxTest, CacheMissesFollowTheAnswer) {
  struct Case {
    const char* what;
    std::string answer;
    std::vector<Host> hosts;
    std::string mark;  // Host(0)
    bool cached;
    std::vector<std::string> mail_log;
  };
  const std::string timeout_line =
      " Dorvane/smtpdistant: 421 No MX DNS available for dom.test using NS 127.0.0.53 (time out) status=error";
  const std::vector<Case> cases = {
      {"one record", Record("10", "mx.dom.test", "3600"), {{10, "mx.dom.test", 3600}}, "", true, {}},
      {"out of order, stable among equals",
       Record("20", "c", "1") + Record("10", "a", "2") + Record("10", "b", "3"),
       {{10, "a", 2}, {10, "b", 3}, {20, "c", 1}}, "", true, {}},
      {"equal preferences keep answer order",
       Record("5", "z", "1") + Record("5", "y", "1") + Record("5", "x", "1"),
       {{5, "z", 1}, {5, "y", 1}, {5, "x", 1}}, "", true, {}},
      {"ten-digit TTL", Record("0", "m", "4294967295"), {{0, "m", 4294967295.0}}, "", true, {}},
      {"preference above 16 bits sorts last", Record("65535", "far", "1") + Record("1", "near", "1"),
       {{1, "near", 1}, {32767, "far", 1}}, "", true, {}},
      {"malformed records skipped", "junk|" + Record("x", "bad", "1") + Record("7", "ok", "9"),
       {{7, "ok", 9}}, "", true, {}},
      {"empty answer", "", {}, "NONE", false, {}},
      {"only malformed records", "10" + kSep + "lonely|", {}, "NONE", false, {}},
      {"time-out", "ERROR_DNS_TIMEOUT", {}, "NONE", false, {timeout_line}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DnsCacheReset();
    std::filesystem::remove(folder_ + "/maillog.txt");
    asked_.clear();
    answer_ = c.answer;
    CDns dns;
    dns.ResolveMx("dom.test");
    EXPECT_EQ(HostsOf(dns.MX), c.hosts);
    EXPECT_EQ(dns.MX.Host(0), c.mark);
    EXPECT_EQ(asked_, std::vector<std::string>{"dom.test @127.0.0.53"});
    EXPECT_EQ(DnsCacheFind("dom.test") != 0, c.cached);
    if (c.cached) EXPECT_EQ(DnsCacheAt(DnsCacheFind("dom.test")).Mx.size(), c.hosts.size() + 1);
    EXPECT_EQ(MailLogTails(), c.mail_log);
  }
  EXPECT_TRUE(DebugLogHas("<FONT COLOR='#FF8000'>DNS: dom.test not in cache</FONT><BR>"));
}

TEST_F(ResolveMxTest, SecondDeliveryIsServedFromTheCache) {
  answer_ = Record("20", "b", "1") + Record("10", "a", "1");
  CDns first, second;
  first.ResolveMx("dom.test");
  answer_ = Record("1", "other", "1");  // must not be asked again
  second.ResolveMx("dom.test");
  EXPECT_EQ(asked_.size(), 1u);
  EXPECT_EQ(HostsOf(second.MX), HostsOf(first.MX));
  EXPECT_EQ(second.MX.Host(0), "");
  EXPECT_TRUE(DebugLogHas("<FONT COLOR='#FF8000'>DNS: dom.test found in cache</FONT><BR>"));
  EXPECT_TRUE(DebugLogHas("<FONT COLOR='#FF8000'>Add in DNS cache #1: dom.test MX=a</FONT><BR>"));
}

TEST_F(ResolveMxTest, FailedLookupsAreAskedAgainNextTime) {
  answer_ = "ERROR_DNS_TIMEOUT";
  CDns dns;
  dns.ResolveMx("dom.test");
  answer_ = Record("10", "mx", "1");
  CDns again;
  again.ResolveMx("dom.test");
  EXPECT_EQ(asked_.size(), 2u);
  EXPECT_EQ(HostsOf(again.MX), (std::vector<Host>{{10, "mx", 1}}));
}

TEST_F(ResolveMxTest, SmarthostIsTheWholeRouteWithoutDnsOrCache) {
  FileConfig().SmtpServerDefined = true;
  Config().SmtpServer = "relay.isp.test";
  DnsCacheAppend("dom.test", CMXServer{});
  CDns dns;
  dns.ResolveMx("dom.test");
  EXPECT_EQ(HostsOf(dns.MX), (std::vector<Host>{{0, "relay.isp.test", 0}}));
  EXPECT_EQ(dns.MX.Host(0), "");
  EXPECT_TRUE(asked_.empty());
  EXPECT_EQ(DnsCacheCount(), 1);
  EXPECT_TRUE(DebugLogHas("<FONT COLOR='#FF8000'>Send using SMTP server: relay.isp.test</FONT><BR>"));
  EXPECT_FALSE(DebugLogHas("in cache"));
}

TEST_F(ResolveMxTest, CachedEntryWithoutHostsIsNoRoute) {
  DnsCacheAppend("dom.test", CMXServer{});
  CDns dns;
  dns.ResolveMx("dom.test");
  EXPECT_EQ(dns.MX.Count(), 0);
  EXPECT_EQ(dns.MX.Host(0), "NONE");
}

TEST_F(ResolveMxTest, DomainCachedDuringTheWaitIsNotAddedTwice) {
  answer_ = Record("10", "mine", "1");
  SetMxLookup([this](std::string&, const std::string&) {
    CMXServer theirs;
    theirs.Add(5, "theirs", "", 1);
    CDns().DNSAddCache("dom.test", theirs);  // another slot finished first
    return answer_;
  });
  CDns dns;
  dns.ResolveMx("dom.test");
  EXPECT_EQ(HostsOf(dns.MX), (std::vector<Host>{{10, "mine", 1}}));
  EXPECT_EQ(DnsCacheCount(), 1);
  EXPECT_EQ(DnsCacheAt(1).Mx.at(1).Host, "theirs");
}

TEST_F(ResolveMxTest, ResolverRewritingItsArgumentDoesNotChangeTheCacheKey) {
  SetMxLookup([](std::string& domain, const std::string&) {
    domain = "4.3.2.1.IN-ADDR.ARPA";
    return Record("10", "mx", "1");
  });
  CDns dns;
  dns.ResolveMx("1.2.3.4");
  EXPECT_EQ(DnsCacheFind("1.2.3.4"), 1);
}

TEST_F(ResolveMxTest, ClearMxEmptiesTheRoute) {
  answer_ = Record("10", "mx", "1");
  CDns dns;
  dns.ResolveMx("dom.test");
  dns.CurrentMX = 1;
  dns.ClearMx();
  EXPECT_EQ(dns.MX.Count(), 0);
  EXPECT_EQ(dns.MX.Host(0), "");
  EXPECT_EQ(dns.CurrentMX, 0);
}

TEST(MxServerList, PositionsOutsideTheListAreSubscriptErrors) {
  CMXServer mx;
  EXPECT_EQ(mx.Count(), 0);
  EXPECT_EQ(mx.Host(0), "");
  for (int bad : {-1, 1}) {
    try {
      mx.At(bad);
      ADD_FAILURE() << "position " << bad << " was accepted";
    } catch (const RuntimeError& e) {
      EXPECT_EQ(e.number(), 9);
    }
  }
}

TEST(MxServerList, DescendingSortIsStableToo) {
  CMXServer mx;
  for (auto [o, h] : std::vector<std::pair<int16_t, const char*>>{{1, "a"}, {3, "b"}, {1, "c"}, {3, "d"}})
    mx.Add(o, h, "", 0);
  SortMXServer(mx.Count(), mx, false);
  EXPECT_EQ(HostsOf(mx), (std::vector<Host>{{3, "b", 0}, {3, "d", 0}, {1, "a", 0}, {1, "c", 0}}));
}

}  // namespace
}  // namespace dorvane
