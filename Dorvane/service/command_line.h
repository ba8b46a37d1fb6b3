// The command line: `dorvane [--headless] [--home DIR] [--update-host HOST[:PORT]] [COMMAND]`.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace dorvane {

struct CommandLine {
  bool headless = false;
  std::string home;     // empty: the executable's folder
  std::string update_host;  // empty: no version check
  std::string command;  // empty: run the program; else hand it to the running one
  std::string error;    // set when the line cannot be understood
};

// `args` without the program name.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

// A display exists when DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM is set
// (and not empty). `getenv` is the environment's reader.
bool DisplayAvailable(const std::function<const char*(const char*)>& getenv);

extern const char* const kUsage;

}  // namespace dorvane
