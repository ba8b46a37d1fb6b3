#include "relay/connexion.h"

#include <gtest/gtest.h>

#include "tests/support/test_environment.h"

namespace dorvane {
namespace {

void Busy(SlotPools& pools, std::initializer_list<int> slots) {
  for (int i : slots) {
    pools.In(i).CnxType = "IN";
    pools.In(i).Connexion = static_cast<uint8_t>(i);
    pools.In(i).SetStatus(4);
  }
}

TEST(Slots, SearchStartsAtTheCursorAndSkipsBusySlots) {
  TestEnvironment t;
  Busy(t.pools, {1, 2, 3});
  t.pools.last_in = 2;
  EXPECT_EQ(4, t.pools.FindFreeIn());
  EXPECT_EQ(4, t.pools.last_in);
  Busy(t.pools, {4});
  EXPECT_EQ(5, t.pools.FindFreeIn());
}

TEST(Slots, SearchWrapsFrom99To1) {
  TestEnvironment t;
  Busy(t.pools, {99});
  t.pools.last_in = 99;
  EXPECT_EQ(1, t.pools.FindFreeIn());
  EXPECT_EQ(1, t.pools.last_in);
}

TEST(Slots, AllBusyGivesZeroAndKeepsTheCursor) {
  TestEnvironment t;
  for (int i = kFirstSlot; i <= kLastSlot; ++i) Busy(t.pools, {i});
  t.pools.last_in = 50;
  EXPECT_EQ(0, t.pools.FindFreeIn());
  EXPECT_EQ(50, t.pools.last_in);
  EXPECT_EQ(1, t.pools.FindFreeOut());  // the other pool is independent
}

TEST(Slots, StatusWriteRefreshesTheRowOnlyWhenNonZero) {
  TestEnvironment t;
  Busy(t.pools, {7});
  t.pools.In(7).SetStatus(0);
  using Row = std::pair<std::string, int>;
  EXPECT_EQ((std::vector<Row>{{"IN", 7}}), t.form.shell.refreshes);
}

TEST(ReplyParsing, CommandWordAndReplyCode) {
  struct {
    const char* line;
    const char* word;
  } words[] = {
      {"helo host.example\r\n", "HELO"},
      {"NOOP\r\n", "NOOP"},
      {"QUIT\r\n", "QUIT"},
      {"mail FROM:<a@b.c>\r\n", "MAIL"},
      {"", ""},
      {"rset\r\nnoop\r\n", "RSET"},
  };
  for (const auto& w : words) EXPECT_EQ(w.word, GetResponse(w.line)) << w.line;
  EXPECT_EQ("250", GetResponseCode("250-first line\r\n250 last\r\n"));
  EXPECT_EQ("55", GetResponseCode("55"));
}

}  // namespace
}  // namespace dorvane
