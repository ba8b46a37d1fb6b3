#include "shell/config_values.h"

#include <algorithm>
#include <filesystem>

#include "base/field_reader.h"
#include "base/program.h"
#include "config/language.h"

namespace dorvane {

namespace {

// Key -> value text of the settings of `config`: all of them, or only those
// it defines.
std::map<std::string, std::string> Texts(const CConfiguration& config, bool all) {
  std::map<std::string, std::string> texts;
  for (const SettingInfo& setting : SettingsTable()) {
    if (all || config.*setting.defined) texts[setting.key] = SettingText(config, setting);
  }
  return texts;
}

}  // namespace

std::map<std::string, std::string> DefinedTexts(const CConfiguration& config) { return Texts(config, false); }

std::map<std::string, std::string> AllTexts(const CConfiguration& config) { return Texts(config, true); }

CConfiguration ConfigFromTexts(const std::map<std::string, std::string>& defined) {
  std::string text;
  for (const auto& [key, value] : defined) text += key + "\t" + value + "\r\n";
  CConfiguration config;
  ReadConfText(text, config);
  return config;
}

std::string DefaultShown(const LanguageConstants& constants, const SettingInfo& setting,
                         const std::string& value_text) {
  if (setting.kind != SettingKind::OnOff) return value_text;
  return value_text == "Off" ? constants[4] : constants[3];
}

std::string OverrideCaption(const LanguageConstants& constants, const std::string& default_shown) {
  return constants[1] + " (" + constants[2] + ": " + default_shown + ")";
}

std::vector<std::string> AvailableLanguages() {
  namespace fs = std::filesystem;
  std::vector<std::string> names;
  std::error_code ec;
  fs::path folder = ProgramPath("language");
  for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
    fs::path path = it->path();
    if (path.extension() != ".ini" || !fs::exists(fs::path(path).replace_extension(".ico"), ec)) continue;
    names.push_back(path.stem().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace dorvane
