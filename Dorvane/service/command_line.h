// The command line: `dorvane [--headless] [--log-stderr] [--home DIR] [--update-host HOST[:PORT]] [COMMAND]`,
// `dorvane [--home DIR] queue [--json] | retry ID | delete ID`, `--help`, `--version`.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace dorvane {

struct CommandLine {
  bool headless = false;
  bool log_stderr = false;  // each mail-log line also goes to standard error
  bool help = false;     // print kHelp and end
  bool version = false;  // print the version and end
  bool json = false;     // `queue`: a JSON array instead of lines
  std::string home;     // empty: the folder UseProgramFolder chooses
  std::string update_host;  // empty: no version check
  std::string command;  // empty: run the program; else hand it to the running one
  std::string argument; // the ID of `retry` and `delete`
  std::string error;    // set when the line cannot be understood
};

// `args` without the program name.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

// Whether `command` works on the spool folders itself, without the relay.
bool IsQueueCommand(const std::string& command);

// A display exists when DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM is set
// (and not empty). `getenv` is the environment's reader.
bool DisplayAvailable(const std::function<const char*(const char*)>& getenv);

// Whether a service manager collects standard error (systemd sets
// INVOCATION_ID and JOURNAL_STREAM for the programs it starts), so the mail
// log belongs there too.
bool UnderServiceManager(const std::function<const char*(const char*)>& getenv);

// The short usage (after an error) and the full help: every option and
// command, one line each.
extern const char* const kUsage;
extern const char* const kHelp;

}  // namespace dorvane
