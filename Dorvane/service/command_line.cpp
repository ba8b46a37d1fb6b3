#include "service/command_line.h"

#include <algorithm>
#include <array>

namespace dorvane {

const char* const kUsage =
    "usage: dorvane [--headless] [--home DIR] [--update-host HOST[:PORT]]\n"
    "               [start|stop|reload|flush|quit|status]\n";

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  static const std::array<const char*, 6> kCommands = {"start", "stop", "reload", "flush", "quit", "status"};
  CommandLine line;
  for (size_t i = 0; i < args.size() && line.error.empty(); ++i) {
    const std::string& a = args[i];
    if (a == "--headless") {
      line.headless = true;
    } else if (a == "--home") {
      if (i + 1 == args.size() || args[i + 1].empty()) line.error = "--home needs a folder";
      else line.home = args[++i];
    } else if (a == "--update-host") {
      if (i + 1 == args.size() || args[i + 1].empty()) line.error = "--update-host needs a host";
      else line.update_host = args[++i];
    } else if (std::find(kCommands.begin(), kCommands.end(), a) != kCommands.end() && line.command.empty()) {
      line.command = a;
    } else {
      line.error = "unexpected argument: " + a;
    }
  }
  return line;
}

bool DisplayAvailable(const std::function<const char*(const char*)>& getenv) {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = getenv(name);
    if (value && *value) return true;
  }
  return false;
}

}  // namespace dorvane
