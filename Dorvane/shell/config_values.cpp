#include "shell/config_values.h"

#include <algorithm>
#include <filesystem>

#include "base/field_reader.h"
#include "base/program.h"
#include "config/language.h"

namespace dorvane {

const std::vector<CategoryInfo>& Categories() {
  static const std::vector<CategoryInfo> categories = {
      {"cat_onstart_0", "D\xC3\xA9marrage"},
      {"cat_computer_1", "D\xC3\xA9marrage de l'ordinateur"},
      {"cat_parameters_2", "Param\xC3\xA8tres"},
      {"cat_debug_3", "D\xC3\xA9" "bogage"},
      {"cat_language_4", "Langue"},
      {"cat_network_5", "R\xC3\xA9seau"},
      {"cat_relay_6", "Relais"},
  };
  return categories;
}

const std::vector<SettingInfo>& Settings() {
  using K = SettingKind;
  static const std::vector<SettingInfo> settings = {
      {"LaunchStart", "cat_onstart_0", "D\xC3\xA9marrer le service au lancement de Dorvane", K::OnOff},
      {"ComputerStart", "cat_computer_1", "Lancer Dorvane \xC3\xA0 l'ouverture de session", K::OnOff},
      {"ListenPort", "cat_parameters_2", "Port d'\xC3\xA9" "coute SMTP", K::Number, kListenPortRange},
      {"MaxNbrAttempt", "cat_parameters_2", "Nombre maximal de tentatives d'envoi", K::Number, kMaxNbrAttemptRange},
      {"AttemptDelay", "cat_parameters_2", "Minutes entre deux tentatives d'envoi", K::Number, kAttemptDelayRange},
      {"KeepLocal", "cat_parameters_2", "Garder les messages dans OutBox (pas d'envoi)", K::OnOff},
      {"Debug", "cat_debug_3", "Journal de d\xC3\xA9" "bogage d\xC3\xA9taill\xC3\xA9", K::OnOff},
      {"Language", "cat_language_4", "Langue", K::Text},
      {"DNSServer", "cat_network_5", "Serveur DNS", K::Text},
      {"SmtpServer", "cat_network_5", "Serveur SMTP (pour tout message sortant)", K::Text},
      {"Relay", "cat_relay_6", "\xC3\x8Atre relais pour le r\xC3\xA9seau 192.168.x.x", K::OnOff},
  };
  return settings;
}

// The file text of `config` holds one "key <tab> value" line per defined
// setting; reading those lines back gives the texts.
std::map<std::string, std::string> DefinedTexts(const CConfiguration& config) {
  std::map<std::string, std::string> texts;
  for (std::string line : ReadFields(ConfText(config))) {
    line = TrimSpaces(ReplaceAll(line, "\t", " "));
    size_t space = line.find(' ');
    std::string key = line.substr(0, space);
    bool known = std::any_of(Settings().begin(), Settings().end(),
                             [&key](const SettingInfo& s) { return key == s.key; });
    if (known) texts[key] = space == std::string::npos ? "" : TrimSpaces(line.substr(space + 1));
  }
  return texts;
}

std::map<std::string, std::string> AllTexts(const CConfiguration& config) {
  CConfiguration all = config;
  all.LaunchStartDefined = all.DebugModeDefined = all.ComputerStartDefined = all.DNSServerDefined =
      all.LanguageDefined = all.KeepLocalDefined = all.ListenPortDefined = all.SmtpServerDefined =
          all.MaxNbrAttemptDefined = all.AttemptDelayDefined = all.RelayDefined = true;
  return DefinedTexts(all);
}

CConfiguration ConfigFromTexts(const std::map<std::string, std::string>& defined) {
  std::string text;
  for (const auto& [key, value] : defined) text += key + "\t" + value + "\r\n";
  CConfiguration config;
  ReadConfText(text, config);
  return config;
}

std::string DefaultShown(const SettingInfo& setting, const std::string& value_text) {
  if (setting.kind != SettingKind::OnOff) return value_text;
  return value_text == "Off" ? CONSTANTS[4] : CONSTANTS[3];
}

std::string OverrideCaption(const std::string& default_shown) {
  return CONSTANTS[1] + " (" + CONSTANTS[2] + ": " + default_shown + ")";
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
