#include "config/configuration.h"

#include <algorithm>
#include <cstdlib>

#include "base/dates.h"
#include "base/field_reader.h"
#include "base/program.h"
#include "base/runtime_error.h"
#include "config/language.h"
#include "config/network_params.h"
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
  c.LaunchStartDefined = c.DebugModeDefined = c.ComputerStartDefined = false;
  c.DNSServerDefined = c.LanguageDefined = c.KeepLocalDefined = false;
  c.ListenPortDefined = c.SmtpServerDefined = c.MaxNbrAttemptDefined = false;
  c.AttemptDelayDefined = c.RelayDefined = false;
}

// Copies the eleven values of `from` into `to`, each only where `take` says.
template <class Take>
void CopyValues(const CConfiguration& from, CConfiguration& to, Take take) {
  if (take(from.LaunchStartDefined)) to.LaunchStart = from.LaunchStart;
  if (take(from.DebugModeDefined)) to.DebugMode = from.DebugMode;
  if (take(from.ComputerStartDefined)) to.ComputerStart = from.ComputerStart;
  if (take(from.DNSServerDefined)) to.DNSServer = from.DNSServer;
  if (take(from.LanguageDefined)) to.Language = from.Language;
  if (take(from.KeepLocalDefined)) to.KeepLocal = from.KeepLocal;
  if (take(from.ListenPortDefined)) to.ListenPort = from.ListenPort;
  if (take(from.SmtpServerDefined)) to.SmtpServer = from.SmtpServer;
  if (take(from.MaxNbrAttemptDefined)) to.MaxNbrAttempt = from.MaxNbrAttempt;
  if (take(from.AttemptDelayDefined)) to.AttemptDelay = from.AttemptDelay;
  if (take(from.RelayDefined)) to.Relay = from.Relay;
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

CConfiguration& DefaultConfig() {
  static CConfiguration instance;
  return instance;
}

CConfiguration& FileConfig() {
  static CConfiguration instance;
  return instance;
}

CConfiguration& Config() {
  static CConfiguration instance;
  return instance;
}

CConfiguration& DialogConfig() {
  static CConfiguration instance;
  return instance;
}

std::string OnOffText(bool value) { return value ? "On" : "Off"; }

void LoadDefault() {
  Guard("MOD:CONFIGURATION[LoadDefault]", [] {
    DiscoverNetworkParams();
    HostName = WithoutNul(NetHostName);
    CConfiguration& d = DefaultConfig();
    d.LaunchStart = true;
    d.DebugMode = false;
    d.ComputerStart = false;
    d.DNSServer = DefaultDnsServer();
    d.Language = "fr";
    d.KeepLocal = false;
    d.ListenPort = 25;
    d.SmtpServer = kDefaultSmtpServer;
    d.MaxNbrAttempt = 3;
    d.AttemptDelay = 60;
    d.Relay = true;
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
