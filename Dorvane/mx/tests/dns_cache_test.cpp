#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "mx/dns_cache.h"
#include "mx_support.h"
#include "service/program.h"

namespace dorvane {
namespace {

using testing::MxFolderTest;

CMXServer Hosts(std::initializer_list<MXRecord> records) {
  CMXServer mx;
  for (const MXRecord& r : records) mx.Add(r);
  return mx;
}

class DnsCacheTest : public MxFolderTest {};

TEST_F(DnsCacheTest, NoFileGivesAnEmptyCache) {
  DNSOpenCache();
  EXPECT_EQ(DnsCacheCount(), 0);
  EXPECT_EQ(MailLogTails(), std::vector<std::string>{" Dorvane Loading DNS cache (0) [OK]"});
  EXPECT_TRUE(DebugLogHas("<FONT face='Verdana' size='2' COLOR='#FF8000'>Loading DNS cache: 0<BR>\r\n</FONT>"));
}

TEST_F(DnsCacheTest, SaveAndLoadKeepEveryDomainBeyond255) {
  for (int i = 1; i <= 300; ++i) DnsCacheAppend("d" + std::to_string(i) + ".test", Hosts({{10, "mx" + std::to_string(i), "", 60}}));
  DNSWriteCache();
  EXPECT_FALSE(std::filesystem::exists(ProgramPath("Hosts.dns.tmp")));
  DecodedDnsCache file = DecodeDnsCacheFile(ReadFile("Hosts.dns"));
  EXPECT_FALSE(file.damaged);
  EXPECT_EQ(file.elements.size(), 301u);

  DnsCacheReset();
  DNSOpenCache();
  EXPECT_EQ(DnsCacheCount(), 300);
  EXPECT_EQ(DnsCacheFind("d300.test"), 300);
  EXPECT_EQ(DnsCacheAt(DnsCacheFind("d256.test")).Mx.at(1).Host, "mx256");
  EXPECT_EQ(MailLogTails(), (std::vector<std::string>{" Dorvane Writing DNS cache (300) [OK]",
                                                     " Dorvane Loading DNS cache (300) [OK]"}));
  EXPECT_TRUE(DebugLogHas("Writing DNS cache: 300<BR>"));
}

TEST_F(DnsCacheTest, IndexIsExactAndCaseSensitive) {
  int k = DnsCacheAppend("Example.org", Hosts({{10, "mx.example.org", "", 60}}));
  EXPECT_EQ(k, 1);
  EXPECT_EQ(DnsCacheFind("Example.org"), 1);
  EXPECT_EQ(DnsCacheFind("example.org"), 0);
  EXPECT_EQ(DnsCacheFind("Example.org."), 0);
  EXPECT_EQ(DnsCacheAppend("example.org", Hosts({})), 2);
  EXPECT_EQ(DnsCacheFind("example.org"), 2);
  EXPECT_TRUE(DebugLogHas("<FONT COLOR='#FF8000'>Add in DNS cache #1: Example.org MX=mx.example.org</FONT><BR>"));
}

TEST_F(DnsCacheTest, DamagedFileIsReportedAndItsWholeEntriesKept) {
  for (const char* d : {"a.test", "b.test", "c.test"}) DnsCacheAppend(d, Hosts({{1, std::string("mx.") + d, "", 1}}));
  DNSWriteCache();
  std::string bytes = ReadFile("Hosts.dns");
  WriteFile("Hosts.dns", bytes.substr(0, bytes.size() - 3));

  DNSOpenCache();
  EXPECT_EQ(DnsCacheCount(), 2);
  EXPECT_EQ(DnsCacheFind("b.test"), 2);
  EXPECT_EQ(DnsCacheFind("c.test"), 0);
  std::vector<std::string> tails = MailLogTails();
  ASSERT_EQ(tails.size(), 3u);
  EXPECT_EQ(tails[1].rfind(" Dorvane DNS cache file Hosts.dns damaged at byte ", 0), 0u) << tails[1];
  EXPECT_NE(tails[1].find("kept the 2 whole entries"), std::string::npos) << tails[1];
  EXPECT_EQ(tails[2], " Dorvane Loading DNS cache (2) [OK]");
}

}  // namespace
}  // namespace dorvane
