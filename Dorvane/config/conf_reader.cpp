// The reading side of Dorvane.ini: entries become FileConfig values.
#include <charconv>
#include <utility>

#include "base/field_reader.h"
#include "base/runtime_error.h"
#include "config/configuration.h"
#include "config/settings_table.h"

namespace dorvane {
namespace {

// A key and its value as one entry of the file gives them.
struct Entry {
  std::string key;
  std::string value;
};

Entry SplitEntry(std::string entry) {
  if (entry.empty() || TrimSpaces(entry).starts_with('#')) entry = "NOTHING";
  entry = TrimSpaces(ReplaceAll(entry, "\t", " "));
  std::string key = entry.substr(0, entry.find(' '));
  // Every occurrence of the key text goes, not just the leading one.
  return {key, TrimSpaces(ReplaceAll(entry, key, ""))};
}

// Stores the value and sets the flag when the key is a setting's;
// anything else is ignored.
void Store(const Entry& entry, CConfiguration& c) {
  const SettingInfo* setting = FindSetting(entry.key);
  if (!setting) return;
  SetSettingValue(c, *setting, entry.value);
  c.*setting->defined = true;
}

}  // namespace

void ReadConfText(const std::string& bytes, CConfiguration& into) {
  for (const std::string& field : ReadFields(bytes)) Store(SplitEntry(field), into);
}

}  // namespace dorvane
