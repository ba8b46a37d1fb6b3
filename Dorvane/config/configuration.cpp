#include "config/configuration.h"

#include <algorithm>
#include <cstdlib>

#include "base/dates.h"
#include "base/field_reader.h"
#include "base/files.h"
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
std::string DefaultDnsServer(const std::vector<std::string>& dns_list) {
  if (dns_list.empty() || std::atol(dns_list[0].c_str()) <= 0 || dns_list.size() < 2) return "127.0.0.1";
  return WithoutNul(dns_list[1]);
}

void ClearFlags(CConfiguration& c) {
  for (const SettingInfo& setting : SettingsTable()) c.*setting.defined = false;
}

// Copies the values of `from` into `to`, each only where `take`
// says for its flag in `from`.
template <class Take>
void CopyValues(const CConfiguration& from, CConfiguration& to, Take take) {
  for (const SettingInfo& setting : SettingsTable()) {
    if (take(from.*setting.defined)) CopySettingValue(from, to, setting);
  }
}

void LogAttemptDelayCap(const CConfiguration& running, Logs& logs) {
  if (running.AttemptDelay <= kMaxAttemptDelay) return;
  logs.MailLogAdd(GMTDate() + " Dorvane: AttemptDelay " + std::to_string(running.AttemptDelay) +
                  " ramen\xC3\xA9 \xC3\xA0 " + std::to_string(kMaxAttemptDelay) + " minutes");
}

// Accepting any certificate is the user's choice for a home server, but
// not one to forget: it is said at every load that puts it to use.
void LogUncheckedCertificate(const Settings& settings, Logs& logs) {
  const CConfiguration& running = settings.running;
  if (!settings.file.SmtpServerDefined || running.SmtpSecurity == kSecurityNone || running.SmtpTlsVerify) return;
  logs.MailLogAdd(GMTDate() + " Dorvane: SmtpTlsVerify Off : le certificat de " + running.SmtpServer +
                  " n'est pas v\xC3\xA9rifi\xC3\xA9");
}

}  // namespace

void PushDebugMode(const Settings& settings, Logs& logs) {
  if (settings.config_loaded) logs.SetDebugMode(settings.running.DebugMode);
}

std::string OnOffText(bool value) { return value ? "On" : "Off"; }

void LoadDefault(Settings& settings, Files& files) {
  Guard("MOD:CONFIGURATION[LoadDefault]", [&] {
    DiscoverNetworkParams(settings.network, files);
    settings.host_name = WithoutNul(settings.network.host_name);
    CConfiguration& d = settings.defaults;
    for (const SettingInfo& setting : SettingsTable()) {
      if (setting.default_text) SetSettingValue(d, setting, setting.default_text);
    }
    d.DNSServer = DefaultDnsServer(settings.network.dns_list);
    d.MailDomain = EffectiveMailDomain(std::nullopt, settings.host_name);
    ClearFlags(settings.file);
  });
}

void ApplyDefaults(Settings& settings, Logs& logs) {
  CopyValues(settings.defaults, settings.running, [](bool) { return true; });
  PushDebugMode(settings, logs);
}

void ApplyFileValues(Settings& settings, Logs& logs) {
  CopyValues(settings.file, settings.running, [](bool defined) { return defined; });
  PushDebugMode(settings, logs);
}

void ChargerConfig(Settings& settings, Logs& logs, Files& files, bool apply) {
  Guard("MOD:CONFIGURATION[ChargerConfig]", [&] {
    LoadDefault(settings, files);
    ApplyDefaults(settings, logs);
    ReadConfText(ReadFileBytes(files, ProgramPath("Dorvane.ini"), "Dorvane"), settings.file);
    if (apply) ApplyFileValues(settings, logs);
    settings.config_loaded = true;
    PushDebugMode(settings, logs);
    LOADFile(settings.language, logs, files, settings.running.Language);
    logs.MailLogAdd(GMTDate() + " Dorvane: Chargement de la configuration (Dorvane.ini)");
    LogAttemptDelayCap(settings.running, logs);
    LogUncheckedCertificate(settings, logs);
  });
}

int16_t EffectiveAttemptDelay(const CConfiguration& running) {
  return std::min(running.AttemptDelay, kMaxAttemptDelay);
}

std::optional<CConfiguration> ReadProgramConf(Files& files) {
  std::string bytes;
  if (files.Read(ProgramPath("Dorvane.ini"), &bytes) != 0) return std::nullopt;
  CConfiguration conf;
  try {
    ReadConfText(bytes, conf);
  } catch (const RuntimeError&) {
    return std::nullopt;
  }
  return conf;
}

std::string EffectiveMailDomain(const std::optional<CConfiguration>& conf, const std::string& host_name) {
  if (conf && conf->MailDomainDefined && !conf->MailDomain.empty()) return conf->MailDomain;
  return MailDomainOf(host_name.empty() ? "localhost" : host_name);
}

}  // namespace dorvane
