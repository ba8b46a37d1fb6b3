// The configuration dialog's model, without widgets: the settings' values
// as the file writes them, and the building of DialogConfig from what the
// user checked. The settings themselves are those of config/settings_table.h.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "config/configuration.h"
#include "config/settings_table.h"

namespace dorvane {

// Key -> value text ("On"/"Off" for the on/off settings) of each setting
// that `config` defines.
std::map<std::string, std::string> DefinedTexts(const CConfiguration& config);
// The same for all the settings, defined or not.
std::map<std::string, std::string> AllTexts(const CConfiguration& config);

// A configuration defining exactly the settings of `defined` (key -> value
// text) with those values, read as the file reader reads them.
CConfiguration ConfigFromTexts(const std::map<std::string, std::string>& defined);

// How a default shows in a check box caption: on/off settings as
// constants[3] / constants[4] of the language, others as they stand.
std::string DefaultShown(const LanguageConstants& constants, const SettingInfo& setting,
                         const std::string& value_text);
// constants[1] + " (" + constants[2] + ": " + default + ")".
std::string OverrideCaption(const LanguageConstants& constants, const std::string& default_shown);

// The languages the dialog offers: the names with both <name>.ini and
// <name>.ico in the program's language folder, sorted.
std::vector<std::string> AvailableLanguages();

}  // namespace dorvane
