// Program-wide facts that every module reads: where the program's files
// live and which version it is.
#pragma once

#include <string>

namespace dorvane {

// The program's version, major "." minor (as "3.0"), from project() in the
// top CMakeLists.txt.
std::string VersionText();

// The program folder with a trailing "/": the base of every file path. By
// default the folder of the executable; `--home DIR` names another one.
const std::string& ProgramFolder();
void SetProgramFolder(const std::string& folder);

// ProgramFolder() + name.
std::string ProgramPath(const std::string& name);

// The folder holding the running executable, with a trailing "/".
std::string ExecutableFolder();


}  // namespace dorvane
