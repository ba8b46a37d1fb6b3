#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "mx/dns_cache_file.h"

namespace dorvane {
namespace {

DnsCacheEntry Domain(const std::string& name, std::vector<MXRecord> hosts) {
  DnsCacheEntry e;
  e.Domain = name;
  e.Mx.emplace_back();
  e.Mx.insert(e.Mx.end(), hosts.begin(), hosts.end());
  return e;
}

std::vector<DnsCacheEntry> Table(std::vector<DnsCacheEntry> domains) {
  std::vector<DnsCacheEntry> t{DnsCacheHeader(static_cast<double>(domains.size()))};
  t.insert(t.end(), domains.begin(), domains.end());
  return t;
}

// Byte offsets at which elements 0, 1, ... of `table` end in its encoding.
std::vector<size_t> ElementEnds(const std::vector<DnsCacheEntry>& table) {
  std::vector<size_t> ends;
  for (size_t i = 1; i <= table.size(); ++i)
    ends.push_back(EncodeDnsCacheFile({table.begin(), table.begin() + static_cast<long>(i)}).size());
  return ends;
}

void PutDoubleAt(std::string& bytes, size_t at, double v) {
  std::memcpy(&bytes[at], &v, sizeof v);  // the test machine is little-endian
}

std::vector<DnsCacheEntry> SampleTable() {
  return Table({
      Domain("example.org", {{300, "mx1.example.org", "", 3600}, {-1, "mx2.example.org", "", 60.5}}),
      Domain("Example.ORG", {{0, "a", "192.0.2.1", 0}}),
      Domain("", {}),
      Domain("three.test", {{10, "x", "", 1}, {20, "y", "", 2}, {30, "z", "", 4294967295.0}}),
  });
}

TEST(HostsDnsFormat, OneDomainEncodesByteForByte) {
  std::string expected(
      // element 0: empty domain, one empty placeholder, empty spare, N = 1.0
      "\x00\x00" "\x01\x00" "\x01\x00\x00\x00" "\x00\x00\x00\x00"
      "\x00\x00" "\x00\x00" "\x00\x00" "\x00\x00\x00\x00\x00\x00\x00\x00"
      "\x00\x00" "\x00\x00\x00\x00\x00\x00\xF0\x3F"
      // element 1: "ex.org", placeholder + one host (300, "mx.ex.org", "", 3600.0)
      "\x06\x00" "ex.org" "\x01\x00" "\x02\x00\x00\x00" "\x00\x00\x00\x00"
      "\x00\x00" "\x00\x00" "\x00\x00" "\x00\x00\x00\x00\x00\x00\x00\x00"
      "\x2C\x01" "\x09\x00" "mx.ex.org" "\x00\x00" "\x00\x00\x00\x00\x00\x20\xAC\x40"
      "\x00\x00" "\x00\x00\x00\x00\x00\x00\x00\x00",
      2 + 2 + 4 + 4 + 14 + 2 + 8 + 2 + 6 + 2 + 4 + 4 + 14 + 2 + 2 + 9 + 2 + 8 + 2 + 8);
  auto table = Table({Domain("ex.org", {{300, "mx.ex.org", "", 3600}})});
  EXPECT_EQ(EncodeDnsCacheFile(table), expected);

  DecodedDnsCache back = DecodeDnsCacheFile(expected);
  EXPECT_FALSE(back.damaged);
  EXPECT_EQ(back.elements, table);
}

TEST(HostsDnsFormat, RoundTripKeepsEveryEntryBeyond255) {
  std::vector<DnsCacheEntry> domains;
  for (int i = 0; i < 300; ++i)
    domains.push_back(Domain("d" + std::to_string(i) + ".test",
                             {{static_cast<int16_t>(i), "mx" + std::to_string(i), "", i * 1.5}}));
  auto table = Table(domains);
  DecodedDnsCache back = DecodeDnsCacheFile(EncodeDnsCacheFile(table));
  EXPECT_FALSE(back.damaged);
  ASSERT_EQ(back.elements.size(), 301u);
  EXPECT_EQ(back.elements[0].Number, 300);
  EXPECT_EQ(back.elements, table);
}

TEST(HostsDnsFormat, EveryTruncatedPrefixKeepsOnlyWholeElements) {
  auto table = SampleTable();
  std::string bytes = EncodeDnsCacheFile(table);
  std::vector<size_t> ends = ElementEnds(table);
  for (size_t len = 0; len < bytes.size(); ++len) {
    SCOPED_TRACE("prefix of " + std::to_string(len) + " bytes");
    DecodedDnsCache got = DecodeDnsCacheFile(bytes.substr(0, len));
    size_t whole = 0;
    if (len >= ends[0])
      while (whole + 1 < ends.size() && ends[whole + 1] <= len) ++whole;
    EXPECT_TRUE(got.damaged);
    ASSERT_EQ(got.elements.size(), whole + 1);
    EXPECT_EQ(got.elements[0].Number, static_cast<double>(whole));
    EXPECT_EQ(got.damage_offset, len >= ends[0] ? ends[whole] : 0u);
    for (size_t i = 1; i <= whole; ++i) EXPECT_EQ(got.elements[i], table[i]);
  }
}

TEST(HostsDnsFormat, DamagedFieldsStopLoadingAtTheDamagedElement) {
  auto table = Table({Domain("a.test", {{10, "mx.a.test", "", 1}}), Domain("b.test", {{5, "mx.b", "", 2}})});
  const std::string good = EncodeDnsCacheFile(table);
  const std::vector<size_t> ends = ElementEnds(table);
  const size_t header_number = ends[0] - 8;
  const size_t e1_dims = ends[0] + 2 + 6, e2_dims = ends[1] + 2 + 6;
  const size_t e1_host_len = e1_dims + 10 + 14 + 2;  // after dims/count/lower, placeholder, Order

  struct Case {
    const char* what;
    std::function<void(std::string&)> damage;
    size_t kept;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<Case> cases = {
      {"negative count", [&](std::string& b) { PutDoubleAt(b, header_number, -1); }, 2},
      {"count not a number", [&](std::string& b) { PutDoubleAt(b, header_number, nan); }, 2},
      {"count beyond the file", [&](std::string& b) { PutDoubleAt(b, header_number, 1e300); }, 2},
      {"count short of the file", [&](std::string& b) { PutDoubleAt(b, header_number, 1); }, 1},
      {"two dimensions", [&](std::string& b) { b[e2_dims] = 2; }, 1},
      {"lower bound not 0", [&](std::string& b) { b[e1_dims + 6] = 5; }, 0},
      {"huge element count", [&](std::string& b) { b.replace(e1_dims + 2, 4, "\xFF\xFF\xFF\xFF"); }, 0},
      {"zero element count", [&](std::string& b) { b.replace(e1_dims + 2, 4, std::string(4, '\0')); }, 0},
      {"host longer than the file", [&](std::string& b) { b.replace(e1_host_len, 2, "\xFF\xFF"); }, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string bytes = good;
    c.damage(bytes);
    DecodedDnsCache got = DecodeDnsCacheFile(bytes);
    EXPECT_TRUE(got.damaged);
    ASSERT_EQ(got.elements.size(), c.kept + 1);
    for (size_t i = 1; i <= c.kept; ++i) EXPECT_EQ(got.elements[i], table[i]);
  }
}

}  // namespace
}  // namespace dorvane
