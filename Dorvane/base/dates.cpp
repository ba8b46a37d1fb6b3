#include "base/dates.h"

#include <cstdio>
#include <cstdlib>

namespace dorvane {
namespace {

const char* const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

}  // namespace

std::tm LocalNow() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local;
}

std::string GMTDateAt(const std::tm& t) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s %02d %d %02d:%02d:%02d", kMonths[t.tm_mon % 12], t.tm_mday,
                t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
  return buf;
}

std::string SerialDateAt(const std::tm& t) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d", t.tm_year + 1900, t.tm_mon + 1,
                t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
  return buf;
}

std::string GMTDate() { return GMTDateAt(LocalNow()); }

std::string SerialDate() { return SerialDateAt(LocalNow()); }

std::string UtcOffsetText(std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  long offset = local.tm_gmtoff / 60;  // minutes east of UTC
  char sign = offset < 0 ? '-' : '+';
  offset = std::labs(offset);
  char buf[48];
  std::snprintf(buf, sizeof buf, " %c%02ld%02ld", sign, offset / 60, offset % 60);
  return buf;
}

}  // namespace dorvane
