#include "shell/autostart.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "config/field_reader.h"
#include "log/runtime_error.h"
#include "service/program.h"
#include "shell/registry.h"

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

std::string ComputerStartPath() { return ExecutableFolder() + "dorvane"; }

std::string DesktopExecArg(const std::string& program) {
  std::string arg = ReplaceAll(program, "%", "%%");
  if (arg.find_first_of(kReserved) != std::string::npos) {
    std::string quoted = "\"";
    for (char c : arg) {
      if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
      quoted += c;
    }
    arg = quoted + "\"";
  }
  // The string escape of the file format comes on top of the quoting.
  return ReplaceAll(arg, "\\", "\\\\");
}

std::string DesktopExecProgram(const std::string& exec) {
  std::string value = UnescapeBackslashes(exec);
  std::string arg;
  if (value.starts_with('"')) {
    for (size_t i = 1; i < value.size() && value[i] != '"'; ++i) {
      if (value[i] == '\\' && i + 1 < value.size()) ++i;
      arg += value[i];
    }
  } else {
    arg = value.substr(0, value.find_first_of(" \t"));
  }
  return ReplaceAll(arg, "%%", "%");
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
    if (line.starts_with("Exec=")) return DesktopExecProgram(line.substr(5));
  }
  return std::nullopt;
}

long WriteAutostartEntry(const std::string& program) {
  std::string entry =
      "[Desktop Entry]\n"
      "Type=Application\n"
      "Name=Dorvane\n"
      "Exec=" +
      DesktopExecArg(program) +
      "\n"
      "Terminal=false\n";
  return ReplaceFileContents(AutostartEntryPath(), entry) ? kRegSuccess : kRegAccessDenied;
}

void RemoveAutostartEntry() { std::remove(AutostartEntryPath().c_str()); }

void SetComputerStart(bool enable) {
  std::string current = QueryValue(kHKeyLocalMachine, kRunKey, kRunValue).Text();
  std::string program = ComputerStartPath();
  if (enable && current != program) SetKeyValue(kHKeyLocalMachine, kRunKey, kRunValue, program);
  if (!enable && current == program) DeleteValue(kHKeyLocalMachine, kRunKey, kRunValue);
}

}  // namespace dorvane
