// Start with the desktop session: the freedesktop autostart entry
// $XDG_CONFIG_HOME/autostart/dorvane.desktop (~/.config when the variable is
// unset) stands for the "Dorvane" value of the Run key; its Exec= line holds
// the program's path.
#pragma once

#include <optional>
#include <string>

namespace dorvane {

// The key and value name under which the registry helpers expose the entry.
inline constexpr const char* kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr const char* kRunValue = "Dorvane";

// The user's configuration folder: $XDG_CONFIG_HOME when it is an absolute
// path, else ~/.config. No trailing "/".
std::string XdgConfigHome();

// XdgConfigHome() + "/autostart/dorvane.desktop".
std::string AutostartEntryPath();

// The program an autostart entry should start: ExecutableFolder() + "dorvane".
std::string ComputerStartPath();

// The program path named by the entry's Exec= line; nothing when there is no
// entry or it has no Exec= line.
std::optional<std::string> ReadAutostartExec();

// Writes (or replaces) the entry so that it starts `program`. Returns 0, or 5
// when the file cannot be written.
long WriteAutostartEntry(const std::string& program);

// Removes the entry; a missing entry is fine.
void RemoveAutostartEntry();

// Brings the entry in line with `enable`: writes it when enabled and it does
// not already name this program (missing included); removes it only when
// disabled and it names this program. An entry for another copy stays.
void SetComputerStart(bool enable);

// A program path as one Exec= argument (quoted and escaped when needed), and
// back: the first argument of an Exec= value.
std::string DesktopExecArg(const std::string& program);
std::string DesktopExecProgram(const std::string& exec);

}  // namespace dorvane
