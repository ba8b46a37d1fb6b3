#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/program.h"
#include "mx/dns_cache.h"
#include "mx_support.h"

namespace dorvane {
namespace {

using Tails = std::vector<std::string>;

CMXServer OneHost(const std::string& host) {
  CMXServer mx;
  mx.Add(10, host, "", 60);
  return mx;
}

class DnsCacheTest : public testing::MxFolderTest {};

TEST_F(DnsCacheTest, NoFileGivesAnEmptyCache) {
  DNSOpenCache();
  EXPECT_EQ(DnsCacheCount(), 0);
  EXPECT_EQ(MailLogTails(), Tails{" Dorvane Loading DNS cache (0) [OK]"});
  EXPECT_TRUE(DebugLogHas("<FONT face='Verdana' size='2' COLOR='#FF8000'>Loading DNS cache: 0<BR>\r\n</FONT>"));
}

TEST_F(DnsCacheTest, SaveAndLoadKeepEveryDomainBeyond255ByExactName) {
  for (int i = 1; i <= 300; ++i) DnsCacheAppend("d" + std::to_string(i) + ".test", OneHost("mx" + std::to_string(i)));
  DnsCacheAppend("D1.test", OneHost("upper"));
  DNSWriteCache();
  EXPECT_FALSE(std::filesystem::exists(ProgramPath(".Hosts.dns.tmp")));

  DnsCacheReset();
  DNSOpenCache();
  EXPECT_EQ(DnsCacheCount(), 301);
  EXPECT_EQ(DnsCacheAt(DnsCacheFind("d256.test")).Mx.at(1).Host, "mx256");
  EXPECT_EQ(DnsCacheAt(DnsCacheFind("D1.test")).Mx.at(1).Host, "upper");
  EXPECT_EQ(DnsCacheFind("d1.test"), 1);
  EXPECT_EQ(DnsCacheFind("D2.test"), 0);
  EXPECT_EQ(MailLogTails(), (Tails{" Dorvane Writing DNS cache (301) [OK]", " Dorvane Loading DNS cache (301) [OK]"}));
  EXPECT_TRUE(DebugLogHas("<FONT COLOR='#FF8000'>Add in DNS cache #301: D1.test MX=upper</FONT><BR>"));
}

TEST_F(DnsCacheTest, DamagedFileIsReportedAndItsWholeEntriesKept) {
  for (const char* d : {"a.test", "b.test", "c.test"}) DnsCacheAppend(d, OneHost("mx"));
  DNSWriteCache();
  std::string bytes = ReadFile("Hosts.dns");
  std::ofstream(ProgramPath("Hosts.dns"), std::ios::binary) << bytes.substr(0, bytes.size() - 3);

  DNSOpenCache();
  EXPECT_EQ(DnsCacheCount(), 2);
  EXPECT_EQ(DnsCacheFind("c.test"), 0);
  EXPECT_EQ(MailLogTails(), (Tails{" Dorvane Writing DNS cache (3) [OK]",
                                   " Dorvane DNS cache file Hosts.dns damaged at byte " + std::to_string(bytes.size() - 58) +
                                       " of " + std::to_string(bytes.size() - 3) + ": kept the 2 whole entries before it",
                                   " Dorvane Loading DNS cache (2) [OK]"}));
}

}  // namespace
}  // namespace dorvane
