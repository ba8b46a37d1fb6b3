#include "qt/autostart.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "base/field_reader.h"
#include "base/program.h"
#include "base/runtime_error.h"
#include "qt/registry.h"

namespace dorvane {
namespace {

// Characters that oblige an Exec= argument to be quoted.
constexpr const char* kReserved = " \t\n\"'\\><~|&;$*?#()`";

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home && *home) return home;
  const passwd* pw = getpwuid(getuid());
  return pw && pw->pw_dir ? pw->pw_dir : "/tmp";
}

}  // namespace

std::string XdgConfigHome() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && *xdg == '/') return xdg;
  return HomeFolder() + "/.config";
}

std::string AutostartEntryPath() { return XdgConfigHome() + "/autostart/dorvane.desktop"; }

std::string ComputerStartCommand() {
  std::string home = ProgramFolder();
  if (home.size() > 1 && home.ends_with('/')) home.pop_back();
  return DesktopExecCommand({ExecutableFolder() + "dorvane", "--home", home});
}

namespace {

// One argument, quoted when it holds a reserved character; inside quotes
// `"`, "`", "$" and "\" take a backslash.
std::string ExecArg(const std::string& text) {
  std::string arg = ReplaceAll(text, "%", "%%");
  if (!arg.empty() && arg.find_first_of(kReserved) == std::string::npos) return arg;
  std::string quoted = "\"";
  for (char c : arg) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

// The string escapes of the file format, so that no value can end its line.
std::string EscapeDesktopString(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') out += "\\\\";
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else if (c == '\t') out += "\\t";
    else out += c;
  }
  return out;
}

}  // namespace

std::string DesktopExecCommand(const std::vector<std::string>& args) {
  std::string command;
  for (const std::string& arg : args) command += (command.empty() ? "" : " ") + ExecArg(arg);
  return command;
}

std::vector<std::string> DesktopExecArgs(const std::string& command) {
  std::vector<std::string> args;
  size_t i = 0;
  while (true) {
    i = command.find_first_not_of(" \t", i);
    if (i == std::string::npos) break;
    std::string arg;
    if (command[i] == '"') {
      for (++i; i < command.size() && command[i] != '"'; ++i) {
        if (command[i] == '\\' && i + 1 < command.size()) ++i;
        arg += command[i];
      }
      ++i;  // the closing quote
    } else {
      size_t end = std::min(command.find_first_of(" \t", i), command.size());
      arg = command.substr(i, end - i);
      i = end;
    }
    args.push_back(ReplaceAll(arg, "%%", "%"));
  }
  return args;
}

std::optional<std::string> ReadAutostartExec() {
  std::string bytes;
  try {
    bytes = ReadFileBytes(AutostartEntryPath(), "Autostart");
  } catch (const RuntimeError&) {
    return std::nullopt;
  }
  std::istringstream lines(bytes);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.starts_with("Exec=")) return UnescapeBackslashes(line.substr(5));
  }
  return std::nullopt;
}

long WriteAutostartEntry(const std::string& command) {
  std::string entry =
      "[Desktop Entry]\n"
      "Type=Application\n"
      "Name=Dorvane\n"
      "Exec=" +
      EscapeDesktopString(command) +
      "\n"
      "Terminal=false\n";
  return ReplaceFileContents(AutostartEntryPath(), entry) ? kRegSuccess : kRegAccessDenied;
}

void RemoveAutostartEntry() { std::remove(AutostartEntryPath().c_str()); }

namespace {

// Whether an entry's command starts this executable on this program
// folder; an entry from before the folder was carried (the executable
// alone) did so when the folder is the executable's.
bool RunsThisSetup(const std::string& command) {
  if (command == ComputerStartCommand()) return true;
  std::vector<std::string> bare = {ExecutableFolder() + "dorvane"};
  return ProgramFolder() == ExecutableFolder() && DesktopExecArgs(command) == bare;
}

}  // namespace

void SetComputerStart(bool enable) {
  std::string current = QueryValue(kHKeyLocalMachine, kRunKey, kRunValue).Text();
  std::string command = ComputerStartCommand();
  if (enable && current != command) SetKeyValue(kHKeyLocalMachine, kRunKey, kRunValue, command);
  if (!enable && RunsThisSetup(current)) DeleteValue(kHKeyLocalMachine, kRunKey, kRunValue);
}

}  // namespace dorvane
