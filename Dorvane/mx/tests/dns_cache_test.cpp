#include "mx/dns_cache.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "log/logs.h"
#include "tests/support/test_environment.h"

namespace dorvane {
namespace {

using Tails = std::vector<std::string>;

CMXServer OneHost(const std::string& host) {
  CMXServer mx;
  mx.Add(10, host, "", 60);
  return mx;
}

// A cache of the test folder, with debug mode on.
class DnsCacheTest : public ::testing::Test {
 protected:
  DnsCacheTest() { t_.logs.SetDebugMode(true); }
  bool DebugLogHas(const std::string& text) const {
    return t_.program.Read("Debug.html").find(text) != std::string::npos;
  }

  TestEnvironment t_;
  DnsCache cache_{t_.files, t_.logs};
};

TEST_F(DnsCacheTest, NoFileGivesAnEmptyCache) {
  cache_.Open();
  EXPECT_EQ(cache_.Count(), 0);
  EXPECT_EQ(t_.LogLines("maillog.txt"), Tails{" Dorvane Loading DNS cache (0) [OK]"});
  EXPECT_TRUE(DebugLogHas("<FONT face='Verdana' size='2' COLOR='#FF8000'>Loading DNS cache: 0<BR>\r\n</FONT>"));
}

TEST_F(DnsCacheTest, SaveAndLoadKeepEveryDomainBeyond255ByExactName) {
  for (int i = 1; i <= 300; ++i)
    cache_.Append("d" + std::to_string(i) + ".test", OneHost("mx" + std::to_string(i)));
  cache_.Append("D1.test", OneHost("upper"));
  cache_.Write();
  EXPECT_FALSE(std::filesystem::exists(t_.program.Path(".Hosts.dns.tmp")));

  DnsCache loaded(t_.files, t_.logs);
  loaded.Open();
  EXPECT_EQ(loaded.Count(), 301);
  EXPECT_EQ(loaded.At(loaded.Find("d256.test")).Mx.at(1).Host, "mx256");
  EXPECT_EQ(loaded.At(loaded.Find("D1.test")).Mx.at(1).Host, "upper");
  EXPECT_EQ(loaded.Find("d1.test"), 1);
  EXPECT_EQ(loaded.Find("D2.test"), 0);
  EXPECT_EQ(t_.LogLines("maillog.txt"),
            (Tails{" Dorvane Writing DNS cache (301) [OK]", " Dorvane Loading DNS cache (301) [OK]"}));
  EXPECT_TRUE(DebugLogHas("<FONT COLOR='#FF8000'>Add in DNS cache #301: D1.test MX=upper</FONT><BR>"));
}

TEST_F(DnsCacheTest, DamagedFileIsReportedAndItsWholeEntriesKept) {
  for (const char* d : {"a.test", "b.test", "c.test"}) cache_.Append(d, OneHost("mx"));
  cache_.Write();
  std::string bytes = t_.program.Read("Hosts.dns");
  t_.program.Write("Hosts.dns", bytes.substr(0, bytes.size() - 3));

  cache_.Open();
  EXPECT_EQ(cache_.Count(), 2);
  EXPECT_EQ(cache_.Find("c.test"), 0);
  EXPECT_EQ(t_.LogLines("maillog.txt"),
            (Tails{" Dorvane Writing DNS cache (3) [OK]",
                   " Dorvane DNS cache file Hosts.dns damaged at byte " + std::to_string(bytes.size() - 58) +
                       " of " + std::to_string(bytes.size() - 3) + ": kept the 2 whole entries before it",
                   " Dorvane Loading DNS cache (2) [OK]"}));
}

// An unreadable file or a failed save is unexpected: the fatal report,
// and a save that fails leaves the old file whole.
TEST_F(DnsCacheTest, UnreadableOrUnwritableFileIsFatalAndKeepsTheOldFile) {
  cache_.Append("a.test", OneHost("mx"));
  cache_.Write();
  const std::string saved = t_.program.Read("Hosts.dns");
  cache_.Append("b.test", OneHost("mx"));
  struct Case {
    const char* operation;
    std::function<void()> run;
    const char* where;
  } cases[] = {
      {"Read", [this] { cache_.Open(); }, "Where: MOD:DNS[DNSOpenCache]<BR>Num\xC3\xA9ro: 70<BR>"},
      {"WriteDurable", [this] { cache_.Write(); }, "Where: MOD:DNS[DNSWriteCache]<BR>Num\xC3\xA9ro: 70<BR>"},
      {"Rename", [this] { cache_.Write(); }, "Where: MOD:DNS[DNSWriteCache]<BR>Num\xC3\xA9ro: 70<BR>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.operation);
    t_.files.Clear();
    t_.files.Fail(c.operation, "Hosts.dns", EIO);
    EXPECT_THROW(c.run(), ProgramEnded);
    EXPECT_TRUE(DebugLogHas(c.where));
    EXPECT_EQ(t_.program.Read("Hosts.dns"), saved);
    EXPECT_FALSE(std::filesystem::exists(t_.program.Path(".Hosts.dns.tmp")));
  }
}

}  // namespace
}  // namespace dorvane
