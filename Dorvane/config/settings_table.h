// The settings described once: the CConfiguration members that hold
// each, its key, kind, default and accepted values in Dorvane.ini, where its
// block stands in the file, and its node and caption in the settings dialog.
// The reader, the writer, the defaults and the dialog all walk this table, so
// a new setting is one row here plus its two CConfiguration members.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "config/configuration.h"

namespace dorvane {

// Choice: one of the setting's `choices`, exactly as written there.
enum class SettingKind { OnOff, Number, Text, Choice };

// The part of Dorvane.ini that holds a setting's block.
enum class FileSection { TopLevel, Global, Registry };

// The values of a numeric setting, both ends included.
struct SettingRange {
  int min = 0;
  int max = 0;
};

// The CConfiguration member holding a setting's value.
using SettingField = std::variant<bool CConfiguration::*, std::string CConfiguration::*,
                                  int16_t CConfiguration::*, uint8_t CConfiguration::*,
                                  uint16_t CConfiguration::*>;

struct SettingInfo {
  const char* key;  // the key in Dorvane.ini ("Debug" for DebugMode)
  SettingKind kind;
  SettingField field;
  bool CConfiguration::*defined;  // its XDefined flag
  // The built-in default as the file would write it; nullptr when it is
  // found at run time (the DNS server, the mail domain).
  const char* default_text;
  FileSection section;
  std::vector<const char*> comments;  // the comment lines before its entry
  const char* node;                   // its node in the dialog's Categories tree
  const char* caption;                // the label beside it in the dialog
  SettingRange accepted = {};         // Number: what the file reader takes
  SettingRange offered = {};          // Number: what the dialog offers
  std::vector<const char*> choices = {};  // Choice: the values it takes
};

// The settings in the order the file writes them.
const std::vector<SettingInfo>& SettingsTable();

// The setting whose key is exactly `key`, or nullptr.
const SettingInfo* FindSetting(const std::string& key);

// The seven nodes of the dialog's Categories tree, in order: key and caption.
struct CategoryInfo {
  const char* key;
  const char* caption;
};
const std::vector<CategoryInfo>& Categories();

// The value of `setting` in `config` as the file writes it: "On"/"Off",
// a plain decimal number, or the text as it stands.
std::string SettingText(const CConfiguration& config, const SettingInfo& setting);

// Sets the value of `setting` in `config` from a file value, its flag left
// alone: on/off settings are false for exactly "Off". Throws RuntimeError
// when a number does not convert (13) or lies outside `accepted` (6), or a
// choice is none of its values (13), the message naming the key.
void SetSettingValue(CConfiguration& config, const SettingInfo& setting, const std::string& text);

// Copies the value of `setting` from `from` to `to`, flag left alone.
void CopySettingValue(const CConfiguration& from, CConfiguration& to, const SettingInfo& setting);

}  // namespace dorvane
