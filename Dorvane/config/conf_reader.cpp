// The reading side of Dorvane.ini: entries become FileConfig values.
#include <charconv>

#include "config/configuration.h"
#include "config/field_reader.h"
#include "log/runtime_error.h"

namespace dorvane {
namespace {

// A key and its value as one entry of the file gives them.
struct Setting {
  std::string key;
  std::string value;
};

Setting SplitEntry(std::string entry) {
  if (entry.empty() || TrimSpaces(entry).starts_with('#')) entry = "NOTHING";
  entry = TrimSpaces(ReplaceAll(entry, "\t", " "));
  std::string key = entry.substr(0, entry.find(' '));
  // Every occurrence of the key text goes, not just the leading one.
  return {key, TrimSpaces(ReplaceAll(entry, key, ""))};
}

// Only the exact word "Off" switches a setting off.
bool ToBool(const std::string& value) { return value != "Off"; }

long ToInteger(const std::string& value, long min, long max) {
  const char* first = value.data();
  const char* last = first + value.size();
  if (value.size() > 1 && value[0] == '+' && value[1] != '-') ++first;
  long n = 0;
  auto [end, ec] = std::from_chars(first, last, n);
  if (value.empty() || end != last || ec == std::errc::invalid_argument)
    Raise(kErrTypeMismatch, "Dorvane", ErrorDescription(kErrTypeMismatch));
  if (ec == std::errc::result_out_of_range || n < min || n > max)
    Raise(kErrOverflow, "Dorvane", ErrorDescription(kErrOverflow));
  return n;
}

int16_t ToInt16(const std::string& value) {
  return static_cast<int16_t>(ToInteger(value, INT16_MIN, INT16_MAX));
}

// Stores `value` under `key` when the key is one of the eleven; returns
// false for anything else.
bool Store(const Setting& s, CConfiguration& c) {
  const std::string& v = s.value;
  if (s.key == "LaunchStart") return c.LaunchStart = ToBool(v), c.LaunchStartDefined = true;
  if (s.key == "Debug") return c.DebugMode = ToBool(v), c.DebugModeDefined = true;
  if (s.key == "ComputerStart") return c.ComputerStart = ToBool(v), c.ComputerStartDefined = true;
  if (s.key == "DNSServer") return c.DNSServer = v, c.DNSServerDefined = true;
  if (s.key == "Language") return c.Language = v, c.LanguageDefined = true;
  if (s.key == "KeepLocal") return c.KeepLocal = ToBool(v), c.KeepLocalDefined = true;
  if (s.key == "ListenPort") return c.ListenPort = ToInt16(v), c.ListenPortDefined = true;
  if (s.key == "SmtpServer") return c.SmtpServer = v, c.SmtpServerDefined = true;
  if (s.key == "MaxNbrAttempt")
    return c.MaxNbrAttempt = static_cast<uint8_t>(ToInteger(v, 0, 255)), c.MaxNbrAttemptDefined = true;
  if (s.key == "AttemptDelay") return c.AttemptDelay = ToInt16(v), c.AttemptDelayDefined = true;
  if (s.key == "Relay") return c.Relay = ToBool(v), c.RelayDefined = true;
  return false;
}

}  // namespace

void ReadConfText(const std::string& bytes, CConfiguration& into) {
  for (const std::string& field : ReadFields(bytes)) Store(SplitEntry(field), into);
}

}  // namespace dorvane
