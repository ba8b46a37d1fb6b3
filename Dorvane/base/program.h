// Program-wide facts that every module reads: where the program's files
// live and which version it is.
#pragma once

#include <functional>
#include <string>

namespace dorvane {

// The program's version, major "." minor (as "3.0"), from project() in the
// top CMakeLists.txt.
std::string VersionText();

// The program folder with a trailing "/": the base of every file path. Set
// once at start by UseProgramFolder (tests set their own).
const std::string& ProgramFolder();
void SetProgramFolder(const std::string& folder);

// ProgramFolder() + name.
std::string ProgramPath(const std::string& name);

// The folder holding the running executable, with a trailing "/".
std::string ExecutableFolder();

// Reads one environment variable; null when unset (std::getenv's contract).
using EnvReader = std::function<const char*(const char*)>;

// Decides the program folder, the one rule of every command of the program:
// `chosen` (--home, or DORVANE_HOME for the mail command) wins when not
// empty; else `executable_folder` when this user may write it and it is not
// an installed copy (IsInstalledCopy); else $XDG_DATA_HOME/dorvane, or
// $HOME/.local/share/dorvane when XDG_DATA_HOME is unset or relative. The
// folder is made absolute, with a trailing "/"; empty when there is no
// HOME to put it under.
std::string ChooseProgramFolder(const std::string& chosen, const std::string& executable_folder,
                                const EnvReader& getenv);

// ChooseProgramFolder, then creates the folder when it is missing (0700,
// with its parents) and makes it ProgramFolder(). Returns "" on success,
// else one line that says why there is no folder (ProgramFolder() is left
// as it was).
std::string UseProgramFolder(const std::string& chosen, const std::string& executable_folder,
                             const EnvReader& getenv);

// Whether `executable_folder` belongs to an installed copy: the shipped
// files sit in the installed data folder beside it (<prefix>/share/dorvane),
// so the folder is the system's bin/, never a place for mail and logs.
bool IsInstalledCopy(const std::string& executable_folder);

// The folder of the files shipped with the program (language/), with a
// trailing "/": the installed data folder of an installed copy, else the
// executable's folder (a build tree).
std::string ShippedFolder();

// Where an installed copy keeps its private libraries (<prefix>/lib/dorvane/),
// reached from the executable's folder, with a trailing "/".
std::string InstalledLibraryFolder();

}  // namespace dorvane
