// The settings model: eleven settings, each with a flag saying whether the
// configuration file defines it, and the four instances the program keeps.
#pragma once

#include <cstdint>
#include <string>

namespace dorvane {

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
  uint8_t MaxNbrAttempt = 0;
  bool MaxNbrAttemptDefined = false;
  int16_t AttemptDelay = 0;
  bool AttemptDelayDefined = false;
  bool Relay = false;
  bool RelayDefined = false;

  // Writes this instance to ProgramFolder() + "Dorvane.ini": the fixed
  // comment lines, then a block for each defined setting; then appends
  // " Dorvane: Writing Dorvane.ini" to the mail log. Throws RuntimeError when
  // the file cannot be written.
  void WriteConf() const;
};

// The built-in defaults (flags stay false).
CConfiguration& DefaultConfig();
// The values read from the file; XDefined is true for each key it holds.
CConfiguration& FileConfig();
// The running configuration: defaults overlaid with defined file values.
CConfiguration& Config();
// Filled by the configuration dialog just before it writes the file.
CConfiguration& DialogConfig();

// True once a configuration load has finished; until then the debug log runs
// in its safe mode.
extern bool ConfigLoaded;

// The computer's host name, NUL characters removed (set by LoadDefault).
extern std::string HostName;

// "On" for true, "Off" for false.
std::string OnOffText(bool value);

// Fills DefaultConfig, clears FileConfig's flags and sets HostName.
void LoadDefault();
// Copies DefaultConfig's eleven values into Config.
void ApplyDefaults();
// Copies each defined FileConfig value into Config, then SetComputerStart.
void ApplyFileValues();
// Loads Dorvane.ini (see the reading rule in the implementation); with
// `apply` the file values reach Config. Sets ConfigLoaded, loads the
// language and writes its mail-log line.
void ChargerConfig(bool apply);

}  // namespace dorvane
