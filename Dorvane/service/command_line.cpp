#include "service/command_line.h"

#include <algorithm>
#include <array>

namespace dorvane {

const char* const kUsage =
    "usage: dorvane [--headless] [--log-stderr] [--home DIR] [--update-host HOST[:PORT]]\n"
    "               [start|stop|reload|flush|quit|status]\n"
    "       dorvane [--home DIR] queue [--json] | retry ID | delete ID\n"
    "       dorvane --help | --version\n";

const char* const kHelp =
    "usage: dorvane [OPTION]... [COMMAND]\n"
    "Options:\n"
    "  --headless                  run without windows (also without a display)\n"
    "  --log-stderr                also write each mail-log line to standard error\n"
    "  --home DIR                  use DIR as the program folder\n"
    "  --update-host HOST[:PORT]   check for a newer version at HOST\n"
    "  --json                      with queue: print a JSON array\n"
    "  --help                      print this help and exit\n"
    "  --version                   print the version and exit\n"
    "Commands to the running relay:\n"
    "  start                       start the service\n"
    "  stop                        stop the service\n"
    "  reload                      reload the settings\n"
    "  flush                       try every deferred message now\n"
    "  quit                        end the program\n"
    "  status                      print the state of the service\n"
    "Queue commands (the relay need not run):\n"
    "  queue                       list the messages of OutBox, Deferred and Error\n"
    "  retry ID                    move message ID from Deferred or Error to OutBox\n"
    "  delete ID                   remove message ID from the queue\n";

namespace {

bool IsRelayCommand(const std::string& a) {
  static const std::array<const char*, 6> kCommands = {"start", "stop", "reload", "flush", "quit", "status"};
  return std::find(kCommands.begin(), kCommands.end(), a) != kCommands.end();
}

bool NeedsArgument(const std::string& command) { return command == "retry" || command == "delete"; }

// The checks that need the whole line.
void CheckWhole(CommandLine& line) {
  if (!line.error.empty()) return;
  if (NeedsArgument(line.command) && line.argument.empty()) line.error = line.command + " needs a message ID";
  else if (line.json && line.command != "queue") line.error = "--json goes with queue only";
}

}  // namespace

bool IsQueueCommand(const std::string& command) { return command == "queue" || NeedsArgument(command); }

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine line;
  for (size_t i = 0; i < args.size() && line.error.empty(); ++i) {
    const std::string& a = args[i];
    if (a == "--headless") {
      line.headless = true;
    } else if (a == "--log-stderr") {
      line.log_stderr = true;
    } else if (a == "--help") {
      line.help = true;
    } else if (a == "--version") {
      line.version = true;
    } else if (a == "--json") {
      line.json = true;
    } else if (a == "--home") {
      if (i + 1 == args.size() || args[i + 1].empty()) line.error = "--home needs a folder";
      else line.home = args[++i];
    } else if (a == "--update-host") {
      if (i + 1 == args.size() || args[i + 1].empty()) line.error = "--update-host needs a host";
      else line.update_host = args[++i];
    } else if ((IsRelayCommand(a) || IsQueueCommand(a)) && line.command.empty()) {
      line.command = a;
      if (NeedsArgument(a) && i + 1 < args.size()) line.argument = args[++i];
    } else {
      line.error = "unexpected argument: " + a;
    }
  }
  CheckWhole(line);
  return line;
}

namespace {

bool AnySet(const std::function<const char*(const char*)>& getenv, std::initializer_list<const char*> names) {
  for (const char* name : names) {
    const char* value = getenv(name);
    if (value && *value) return true;
  }
  return false;
}

}  // namespace

bool DisplayAvailable(const std::function<const char*(const char*)>& getenv) {
  return AnySet(getenv, {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"});
}

bool UnderServiceManager(const std::function<const char*(const char*)>& getenv) {
  return AnySet(getenv, {"INVOCATION_ID", "JOURNAL_STREAM"});
}

}  // namespace dorvane
