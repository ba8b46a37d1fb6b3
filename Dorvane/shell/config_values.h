// The configuration dialog's model, without widgets: the eleven settings
// (file keys, categories, kinds), their values as the file writes them,
// and the building of DialogConfig from what the user checked.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "config/configuration.h"

namespace dorvane {

enum class SettingKind { OnOff, Number, Text };

struct SettingInfo {
  const char* key;       // the key of Dorvane.ini ("Debug" for DebugMode)
  const char* node;      // the key of its node in the Categories tree
  const char* caption;   // the label beside it
  SettingKind kind;
  SettingRange range{};  // Number: the values the file reader takes
};

// The seven nodes of the Categories tree, in order: key and caption.
struct CategoryInfo {
  const char* key;
  const char* caption;
};
const std::vector<CategoryInfo>& Categories();

// The eleven settings in the dialog's order.
const std::vector<SettingInfo>& Settings();

// Key -> value text ("On"/"Off" for the on/off settings) of each setting
// that `config` defines.
std::map<std::string, std::string> DefinedTexts(const CConfiguration& config);
// The same for all eleven settings, defined or not.
std::map<std::string, std::string> AllTexts(const CConfiguration& config);

// A configuration defining exactly the settings of `defined` (key -> value
// text) with those values, read as the file reader reads them.
CConfiguration ConfigFromTexts(const std::map<std::string, std::string>& defined);

// How a default shows in a check box caption: on/off settings as
// CONSTANTS(3) / CONSTANTS(4), others as they stand.
std::string DefaultShown(const SettingInfo& setting, const std::string& value_text);
// CONSTANTS(1) + " (" + CONSTANTS(2) + ": " + default + ")".
std::string OverrideCaption(const std::string& default_shown);

// The languages the dialog offers: the names with both <name>.ini and
// <name>.ico in the program's language folder, sorted.
std::vector<std::string> AvailableLanguages();

}  // namespace dorvane
