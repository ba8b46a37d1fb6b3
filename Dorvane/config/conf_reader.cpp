// The reading side of Dorvane.ini: entries become FileConfig values.
#include <charconv>
#include <utility>

#include "base/field_reader.h"
#include "base/runtime_error.h"
#include "config/configuration.h"

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

// The number `value` of the setting `key`, from `min` to `max`; anything
// else raises, naming the setting so the user knows which line to mend.
long ToInteger(const std::string& key, const std::string& value, long min, long max) {
  const char* first = value.data();
  const char* last = first + value.size();
  if (value.size() > 1 && value[0] == '+' && value[1] != '-') ++first;
  long n = 0;
  auto [end, ec] = std::from_chars(first, last, n);
  if (value.empty() || end != last || ec == std::errc::invalid_argument)
    Raise(kErrTypeMismatch, "Dorvane", ErrorDescription(kErrTypeMismatch) + " (" + key + ")");
  if (ec == std::errc::result_out_of_range || n < min || n > max)
    Raise(kErrOverflow, "Dorvane", ErrorDescription(kErrOverflow) + " (" + key + ")");
  return n;
}

int16_t ToInt16(const std::string& key, const std::string& value) {
  return static_cast<int16_t>(ToInteger(key, value, INT16_MIN, INT16_MAX));
}

template <class T>
void Set(T& field, bool& defined, T value) {
  field = std::move(value);
  defined = true;
}

// Stores the value when the key is one of the eleven; anything else is
// ignored.
void Store(const Setting& s, CConfiguration& c) {
  const std::string& v = s.value;
  if (s.key == "LaunchStart") Set(c.LaunchStart, c.LaunchStartDefined, ToBool(v));
  if (s.key == "Debug") Set(c.DebugMode, c.DebugModeDefined, ToBool(v));
  if (s.key == "ComputerStart") Set(c.ComputerStart, c.ComputerStartDefined, ToBool(v));
  if (s.key == "DNSServer") Set(c.DNSServer, c.DNSServerDefined, v);
  if (s.key == "Language") Set(c.Language, c.LanguageDefined, v);
  if (s.key == "KeepLocal") Set(c.KeepLocal, c.KeepLocalDefined, ToBool(v));
  if (s.key == "ListenPort")
    Set(c.ListenPort, c.ListenPortDefined,
        static_cast<int16_t>(ToInteger(s.key, v, kListenPortRange.min, kListenPortRange.max)));
  if (s.key == "SmtpServer") Set(c.SmtpServer, c.SmtpServerDefined, v);
  if (s.key == "MaxNbrAttempt")
    Set(c.MaxNbrAttempt, c.MaxNbrAttemptDefined,
        static_cast<uint8_t>(ToInteger(s.key, v, kMaxNbrAttemptRange.min, kMaxNbrAttemptRange.max)));
  if (s.key == "AttemptDelay") Set(c.AttemptDelay, c.AttemptDelayDefined, ToInt16(s.key, v));
  if (s.key == "Relay") Set(c.Relay, c.RelayDefined, ToBool(v));
}

}  // namespace

void ReadConfText(const std::string& bytes, CConfiguration& into) {
  for (const std::string& field : ReadFields(bytes)) Store(SplitEntry(field), into);
}

}  // namespace dorvane
