#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "mx/dns_cache_file.h"

namespace dorvane {
namespace {

using Table = std::vector<DnsCacheEntry>;

DnsCacheEntry Domain(const std::string& name, std::vector<MXRecord> hosts) {
  hosts.insert(hosts.begin(), MXRecord{});
  return DnsCacheEntry{name, hosts, "", 0};
}

Table WithHeader(Table domains) {
  domains.insert(domains.begin(), DnsCacheHeader(static_cast<double>(domains.size())));
  return domains;
}

// Where each element of `table` ends in its encoding.
std::vector<size_t> ElementEnds(const Table& table) {
  std::vector<size_t> ends;
  for (size_t i = 1; i <= table.size(); ++i)
    ends.push_back(EncodeDnsCacheFile(Table(table.begin(), table.begin() + static_cast<long>(i))).size());
  return ends;
}

TEST(HostsDnsFormat, OneDomainEncodesByteForByte) {
  const std::string expected(
      // element 0: empty domain, one empty placeholder, empty spare, N = 1.0
      "\x00\x00" "\x01\x00" "\x01\x00\x00\x00" "\x00\x00\x00\x00"
      "\x00\x00" "\x00\x00" "\x00\x00" "\x00\x00\x00\x00\x00\x00\x00\x00"
      "\x00\x00" "\x00\x00\x00\x00\x00\x00\xF0\x3F"
      // element 1: "ex.org"; placeholder; host (300, "mx.ex.org", "", 3600.0); number 0
      "\x06\x00" "ex.org" "\x01\x00" "\x02\x00\x00\x00" "\x00\x00\x00\x00"
      "\x00\x00" "\x00\x00" "\x00\x00" "\x00\x00\x00\x00\x00\x00\x00\x00"
      "\x2C\x01" "\x09\x00" "mx.ex.org" "\x00\x00" "\x00\x00\x00\x00\x00\x20\xAC\x40"
      "\x00\x00" "\x00\x00\x00\x00\x00\x00\x00\x00",
      36 + 65);
  Table table = WithHeader({Domain("ex.org", {{300, "mx.ex.org", "", 3600}})});
  EXPECT_EQ(EncodeDnsCacheFile(table), expected);
  DecodedDnsCache back = DecodeDnsCacheFile(expected);
  EXPECT_FALSE(back.damaged);
  EXPECT_EQ(back.elements, table);
}

TEST(HostsDnsFormat, RoundTripKeepsEveryEntryBeyond255) {
  Table domains;
  for (int16_t i = 0; i < 300; ++i)
    domains.push_back(Domain("d" + std::to_string(i), {{i, "mx", "", i * 1.5}, {-1, "b", "192.0.2.1", 4294967295.0}}));
  Table table = WithHeader(domains);
  DecodedDnsCache back = DecodeDnsCacheFile(EncodeDnsCacheFile(table));
  EXPECT_FALSE(back.damaged);
  EXPECT_EQ(back.elements, table);
}

TEST(HostsDnsFormat, EveryTruncatedPrefixKeepsOnlyWholeElements) {
  Table table = WithHeader({Domain("a.test", {{10, "x", "", 1}, {20, "y", "", 2}}), Domain("", {}),
                            Domain("B.test", {{0, "z", "", 0}})});
  std::string bytes = EncodeDnsCacheFile(table);
  std::vector<size_t> ends = ElementEnds(table);
  for (size_t len = 0; len < bytes.size(); ++len) {
    size_t whole = 0;
    while (whole + 1 < ends.size() && ends[whole + 1] <= len) ++whole;
    DecodedDnsCache got = DecodeDnsCacheFile(bytes.substr(0, len));
    ASSERT_TRUE(got.damaged) << len;
    ASSERT_EQ(got.elements.size(), whole + 1) << len;
    EXPECT_EQ(got.damage_offset, len < ends[0] ? 0 : ends[whole]) << len;
    EXPECT_EQ(Table(got.elements.begin() + 1, got.elements.end()),
              Table(table.begin() + 1, table.begin() + 1 + static_cast<long>(whole))) << len;
  }
}

TEST(HostsDnsFormat, DamagedFieldsStopLoadingAtTheDamagedElement) {
  const Table table = WithHeader({Domain("a.test", {{10, "mx.a", "", 1}}), Domain("b.test", {{5, "mx.b", "", 2}})});
  const std::string good = EncodeDnsCacheFile(table);
  const std::vector<size_t> ends = ElementEnds(table);
  const size_t count_at = ends[0] - 8, e1_dims = ends[0] + 8, e2_dims = ends[1] + 8;
  auto count = [&](double n) { return [=](std::string& b) { std::memcpy(&b[count_at], &n, 8); }; };
  struct Case {
    const char* what;
    std::function<void(std::string&)> damage;
    size_t kept;
  };
  for (const Case& c : std::vector<Case>{
           {"count not a number: keep what is whole", count(std::numeric_limits<double>::quiet_NaN()), 2},
           {"two dimensions", [&](std::string& b) { b[e2_dims] = 2; }, 1},
           {"huge element count", [&](std::string& b) { b.replace(e1_dims + 2, 4, "\xFF\xFF\xFF\x7F"); }, 0},
           {"host longer than the file", [&](std::string& b) { b.replace(e1_dims + 26, 2, "\xFF\xFF"); }, 0},
       }) {
    std::string bytes = good;
    c.damage(bytes);
    DecodedDnsCache got = DecodeDnsCacheFile(bytes);
    EXPECT_TRUE(got.damaged) << c.what;
    EXPECT_EQ(Table(got.elements.begin() + 1, got.elements.end()),
              Table(table.begin() + 1, table.begin() + 1 + static_cast<long>(c.kept))) << c.what;
  }
}

}  // namespace
}  // namespace dorvane
