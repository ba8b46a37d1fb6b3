// The settings model: the settings, each with a flag saying whether the
// configuration file defines it, and the four instances the program keeps.
// What each setting is (key, default, range, ...) is told once, in
// config/settings_table.h.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "config/language.h"
#include "config/network_params.h"

namespace dorvane {

class Files;
class Logs;

class CConfiguration {
 public:
  bool LaunchStart = false;
  bool LaunchStartDefined = false;
  bool DebugMode = false;  // key "Debug" in the file
  bool DebugModeDefined = false;
  bool ComputerStart = false;
  bool ComputerStartDefined = false;
  std::string DNSServer;
  bool DNSServerDefined = false;
  std::string Language;
  bool LanguageDefined = false;
  bool KeepLocal = false;
  bool KeepLocalDefined = false;
  int16_t ListenPort = 0;
  bool ListenPortDefined = false;
  std::string SmtpServer;
  bool SmtpServerDefined = false;
  uint16_t SmtpPort = 0;  // the smarthost's port
  bool SmtpPortDefined = false;
  std::string SmtpSecurity;  // kSecurityNone, kSecurityStartTls or kSecurityTls
  bool SmtpSecurityDefined = false;
  std::string SmtpUser;  // AUTH with the smarthost when not empty
  bool SmtpUserDefined = false;
  bool SmtpTlsVerify = false;  // the smarthost's certificate is checked
  bool SmtpTlsVerifyDefined = false;
  std::string MailDomain;  // what bare local names ("root") are qualified with
  bool MailDomainDefined = false;
  uint8_t MaxNbrAttempt = 0;
  bool MaxNbrAttemptDefined = false;
  int16_t AttemptDelay = 0;
  bool AttemptDelayDefined = false;
  bool Relay = false;
  bool RelayDefined = false;

  // Writes this instance to ProgramFolder() + "Dorvane.ini" through
  // `files`: the fixed comment lines, then a block for each defined setting;
  // then appends " Dorvane: Writing Dorvane.ini" to the mail log of `logs`.
  // Throws RuntimeError when the file cannot be written.
  void WriteConf(Files& files, Logs& logs) const;
};

// Default of SmtpServer: a stand-in for the provider's mail server, shown as
// the default and never used for delivery (only a file value is).
inline constexpr const char* kDefaultSmtpServer = "smtp.fournisseur.example";

// The values of SmtpSecurity: plain HELO, STARTTLS after EHLO, or TLS from
// the connect on.
inline constexpr const char* kSecurityNone = "None";
inline constexpr const char* kSecurityStartTls = "StartTls";
inline constexpr const char* kSecurityTls = "Tls";

// The four configuration instances the program keeps.
struct Settings {
  CConfiguration defaults;  // the built-in defaults (flags stay false)
  CConfiguration file;      // the values read from the file; XDefined per key found
  CConfiguration running;   // defaults overlaid with defined file values
  CConfiguration dialog;    // filled by the settings dialog just before it writes the file
  // True once a configuration load has finished; until then the debug log
  // runs in its safe mode.
  bool config_loaded = false;
  // The computer's host name, NUL characters removed (set by LoadDefault).
  std::string host_name;
  // What the last network discovery found (LoadDefault runs it).
  NetworkParams network;
  // The language named by running.Language (loaded by ChargerConfig).
  LanguageTexts language;
};

// Once `settings` are loaded, tells `logs` whether the running configuration
// is in debug mode. Call after changing running.DebugMode.
void PushDebugMode(const Settings& settings, Logs& logs);

// "On" for true, "Off" for false.
std::string OnOffText(bool value);

// The bytes WriteConf puts in Dorvane.ini for `config`: fixed comment lines,
// one block per defined setting, CR LF line ends, UTF-8 accented comments.
std::string ConfText(const CConfiguration& config);

// Reads the entries of a configuration file's bytes into `into`: each key
// found (exact case, anywhere in the file, later lines winning) sets its
// value and its XDefined flag; other entries are ignored. Throws RuntimeError
// when a numeric value does not convert (13) or is out of range (6).
void ReadConfText(const std::string& bytes, CConfiguration& into);

// The longest usable deferral delay: the delay in seconds must fit in 16
// signed bits.
constexpr int16_t kMaxAttemptDelay = 546;

// `running`'s AttemptDelay in minutes, used as 546 when it is larger. Every
// reader of the deferral delay goes through this.
int16_t EffectiveAttemptDelay(const CConfiguration& running);

// The file instance of the program folder's Dorvane.ini read through
// `files`, for the programs that run beside the relay without loading its
// settings; nullopt when the file is missing, unreadable or one the relay
// would refuse (a bad number).
std::optional<CConfiguration> ReadProgramConf(Files& files);

// The domain that bare local names ("root", the login name) take: MailDomain
// of `conf` when it sets one, else the computer's domain (MailDomainOf
// `host_name`, "localhost" when there is none).
std::string EffectiveMailDomain(const std::optional<CConfiguration>& conf, const std::string& host_name);

// Runs the network discovery into settings.network (reading its resolver
// file through `files`), sets host_name, fills the defaults and clears the
// file instance's flags; MailDomain defaults to the computer's domain. Errors are reported as
// "MOD:CONFIGURATION[LoadDefault]".
void LoadDefault(Settings& settings, Files& files);
// Copies every default value into the running instance and pushes
// its debug mode to `logs`.
void ApplyDefaults(Settings& settings, Logs& logs);
// Copies each defined file value into the running instance and pushes its
// debug mode to `logs`. The caller brings the autostart entry in line with
// running.ComputerStart.
void ApplyFileValues(Settings& settings, Logs& logs);
// Loads ProgramFolder() + "Dorvane.ini" through `files` into settings.file
// after resetting the running instance to the defaults; with `apply` the
// file values reach it (the caller then brings the autostart entry in line
// with ComputerStart). Sets config_loaded, loads the language named by
// running.Language and writes its mail-log line to `logs` (and one more when
// AttemptDelay is capped). Any error, a missing file included, is reported
// through ProgramError as "MOD:CONFIGURATION[ChargerConfig]".
void ChargerConfig(Settings& settings, Logs& logs, Files& files, bool apply);

}  // namespace dorvane
