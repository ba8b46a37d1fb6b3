#include "config/configuration.h"

#include <algorithm>
#include <cstdlib>

#include "base/dates.h"
#include "base/field_reader.h"
#include "base/program.h"
#include "base/runtime_error.h"
#include "config/language.h"
#include "config/network_params.h"
#include "config/settings_table.h"
#include "log/guard.h"
#include "log/logs.h"

namespace dorvane {
namespace {

std::string WithoutNul(const std::string& text) {
  return ReplaceAll(text, std::string(1, '\0'), "");
}

// The first discovered DNS server, even an empty one; "127.0.0.1" when the
// discovery found nothing at all.
std::string DefaultDnsServer() {
  if (DNSList.empty() || std::atol(DNSList[0].c_str()) <= 0 || DNSList.size() < 2)
    return "127.0.0.1";
  return WithoutNul(DNSList[1]);
}

void ClearFlags(CConfiguration& c) {
  for (const SettingInfo& setting : SettingsTable()) c.*setting.defined = false;
}

// Copies the eleven values of `from` into `to`, each only where `take`
// says for its flag in `from`.
template <class Take>
void CopyValues(const CConfiguration& from, CConfiguration& to, Take take) {
  for (const SettingInfo& setting : SettingsTable()) {
    if (take(from.*setting.defined)) CopySettingValue(from, to, setting);
  }
}

void LogAttemptDelayCap() {
  if (Config().AttemptDelay <= kMaxAttemptDelay) return;
  MailLogAdd(GMTDate() + " Dorvane: AttemptDelay " + std::to_string(Config().AttemptDelay) +
             " ramen\xC3\xA9 \xC3\xA0 " + std::to_string(kMaxAttemptDelay) + " minutes");
}

}  // namespace

bool ConfigLoaded = false;

void PushDebugMode() {
  if (ConfigLoaded) SetDebugMode(Config().DebugMode);
}
std::string HostName;

Settings& GlobalSettings() {
  static Settings settings;
  return settings;
}

CConfiguration& DefaultConfig() { return GlobalSettings().defaults; }
CConfiguration& FileConfig() { return GlobalSettings().file; }
CConfiguration& Config() { return GlobalSettings().running; }
CConfiguration& DialogConfig() { return GlobalSettings().dialog; }

std::string OnOffText(bool value) { return value ? "On" : "Off"; }

void LoadDefault() {
  Guard("MOD:CONFIGURATION[LoadDefault]", [] {
    DiscoverNetworkParams();
    HostName = WithoutNul(NetHostName);
    CConfiguration& d = DefaultConfig();
    for (const SettingInfo& setting : SettingsTable()) {
      if (setting.default_text) SetSettingValue(d, setting, setting.default_text);
    }
    d.DNSServer = DefaultDnsServer();
    ClearFlags(FileConfig());
  });
}

void ApplyDefaults() {
  CopyValues(DefaultConfig(), Config(), [](bool) { return true; });
  PushDebugMode();
}

void ApplyFileValues() {
  CopyValues(FileConfig(), Config(), [](bool defined) { return defined; });
  PushDebugMode();
}

void ChargerConfig(bool apply) {
  Guard("MOD:CONFIGURATION[ChargerConfig]", [apply] {
    LoadDefault();
    ApplyDefaults();
    ReadConfText(ReadFileBytes(ProgramPath("Dorvane.ini"), "Dorvane"), FileConfig());
    if (apply) ApplyFileValues();
    ConfigLoaded = true;
    PushDebugMode();
    LOADFile(Config().Language);
    MailLogAdd(GMTDate() + " Dorvane: Chargement de la configuration (Dorvane.ini)");
    LogAttemptDelayCap();
  });
}

int16_t EffectiveAttemptDelay() { return std::min(Config().AttemptDelay, kMaxAttemptDelay); }

}  // namespace dorvane
