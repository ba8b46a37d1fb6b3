// Start with the desktop session: the freedesktop autostart entry
// $XDG_CONFIG_HOME/autostart/dorvane.desktop (~/.config when the variable is
// unset) stands for the "Dorvane" value of the Run key. As a Run value, it
// is a command line: its Exec= line, quoted by the desktop-entry rules.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace dorvane {

// The key and value name under which the registry helpers expose the entry.
inline constexpr const char* kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr const char* kRunValue = "Dorvane";

// The user's configuration folder: $XDG_CONFIG_HOME when it is an absolute
// path, else ~/.config. No trailing "/".
std::string XdgConfigHome();

// XdgConfigHome() + "/autostart/dorvane.desktop".
std::string AutostartEntryPath();

// The command an autostart entry should run: this executable with
// `--home` and the program folder in use, so the session starts this very
// setup (settings, spool, logs).
std::string ComputerStartCommand();

// The command of the entry's Exec= line (string escapes undone); nothing
// when there is no entry or it has no Exec= line.
std::optional<std::string> ReadAutostartExec();

// Writes (or replaces) the entry so that it runs `command`. Returns 0, or 5
// when the file cannot be written.
long WriteAutostartEntry(const std::string& command);

// Removes the entry; a missing entry is fine.
void RemoveAutostartEntry();

// Brings the entry in line with `enable`: writes it when enabled and it does
// not already run ComputerStartCommand() (missing included); removes it only
// when disabled and it starts this executable on this program folder. An
// entry for another copy or another program folder stays.
void SetComputerStart(bool enable);

// Arguments as one desktop-entry command line (each quoted and escaped
// where needed, "%" doubled), and back.
std::string DesktopExecCommand(const std::vector<std::string>& args);
std::vector<std::string> DesktopExecArgs(const std::string& command);

}  // namespace dorvane
