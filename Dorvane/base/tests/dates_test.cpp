#include "base/dates.h"

#include <gtest/gtest.h>

namespace dorvane {
namespace {

std::tm At(int year, int month, int day, int h, int m, int s) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = h;
  t.tm_min = m;
  t.tm_sec = s;
  return t;
}

TEST(Dates, StampsPadEveryField) {
  struct Case {
    std::tm at;
    const char* gmt;
    const char* serial;
  };
  const Case cases[] = {
      {At(2026, 1, 1, 0, 0, 0), "Jan 01 2026 00:00:00", "20260101000000"},
      {At(2026, 2, 3, 9, 5, 7), "Feb 03 2026 09:05:07", "20260203090507"},
      {At(2026, 12, 6, 19, 52, 52), "Dec 06 2026 19:52:52", "20261206195252"},
      {At(1000, 12, 31, 23, 59, 59), "Dec 31 1000 23:59:59", "10001231235959"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(GMTDateAt(c.at), c.gmt);
    EXPECT_EQ(SerialDateAt(c.at), c.serial);
  }
}

TEST(Dates, CurrentStampsHaveTheirShape) {
  EXPECT_EQ(SerialDate().size(), 14u);
  EXPECT_EQ(GMTDate().size(), 20u);
}

TEST(Dates, UtcOffsetIsSignedHoursAndMinutes) {
  std::string offset = UtcOffsetText(0);
  ASSERT_EQ(offset.size(), 6u) << offset;
  EXPECT_EQ(offset[0], ' ');
  EXPECT_TRUE(offset[1] == '+' || offset[1] == '-') << offset;
}

}  // namespace
}  // namespace dorvane
