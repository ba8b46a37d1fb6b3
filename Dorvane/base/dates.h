// Date stamps from the local clock: GMTDate for log lines, SerialDate for
// message identifiers. Neither converts to another zone.
#pragma once

#include <ctime>
#include <string>

namespace dorvane {

// "Dec 06 2026 19:52:52": month abbreviation, two-digit day, full year and
// the local time of day (24-hour clock).
std::string GMTDate();
std::string GMTDateAt(const std::tm& local);

// Fourteen digits, year to seconds: "20261206195252". The clock is read once,
// so a call at midnight cannot mix two dates.
std::string SerialDate();
std::string SerialDateAt(const std::tm& local);

// The computer's UTC offset at `when` (local), as " +hhmm" or " -hhmm".
std::string UtcOffsetText(std::time_t when);

// The current local time, read once.
std::tm LocalNow();

}  // namespace dorvane
