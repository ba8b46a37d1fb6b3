#include "base/program.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace dorvane {
namespace {

namespace fs = std::filesystem;

std::string& FolderStorage() {
  static std::string folder = ExecutableFolder();
  return folder;
}

std::string WithSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

std::string Absolute(const std::string& path) {
  std::error_code ec;
  return WithSlash(fs::absolute(path, ec).lexically_normal().string());
}

bool Set(const char* value) { return value != nullptr && *value != '\0'; }

// The user's data folder: XDG_DATA_HOME counts only when absolute.
std::string DataHome(const EnvReader& getenv) {
  const char* xdg = getenv("XDG_DATA_HOME");
  if (Set(xdg) && xdg[0] == '/') return WithSlash(xdg);
  const char* home = getenv("HOME");
  if (Set(home)) return WithSlash(home) + ".local/share/";
  const passwd* pw = getpwuid(getuid());
  if (pw != nullptr && Set(pw->pw_dir)) return WithSlash(pw->pw_dir) + ".local/share/";
  return "";
}

bool Writable(const std::string& folder) {
  struct stat st {};
  return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && ::access(folder.c_str(), W_OK) == 0;
}

}  // namespace

std::string VersionText() {
  return std::to_string(DORVANE_VERSION_MAJOR) + "." + std::to_string(DORVANE_VERSION_MINOR);
}

const std::string& ProgramFolder() { return FolderStorage(); }

void SetProgramFolder(const std::string& folder) { FolderStorage() = WithSlash(folder); }

std::string ProgramPath(const std::string& name) { return ProgramFolder() + name; }

std::string ExecutableFolder() {
  std::error_code ec;
  auto exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return "./";
  return WithSlash(exe.parent_path().string());
}

bool IsInstalledCopy(const std::string& executable_folder) {
  std::error_code ec;
  return fs::is_directory(WithSlash(executable_folder) + DORVANE_DATA_FROM_BIN "language", ec);
}

std::string ChooseProgramFolder(const std::string& chosen, const std::string& executable_folder,
                                const EnvReader& getenv) {
  if (!chosen.empty()) return Absolute(chosen);
  if (Writable(executable_folder) && !IsInstalledCopy(executable_folder)) return Absolute(executable_folder);
  std::string data = DataHome(getenv);
  return data.empty() ? "" : Absolute(data + "dorvane");
}

std::string UseProgramFolder(const std::string& chosen, const std::string& executable_folder,
                             const EnvReader& getenv) {
  std::string folder = ChooseProgramFolder(chosen, executable_folder, getenv);
  if (folder.empty()) return "no program folder: neither XDG_DATA_HOME nor HOME is set";
  std::error_code ec;
  fs::path path = fs::path(folder).parent_path();  // the trailing "/" makes an empty last part
  fs::create_directories(path.parent_path(), ec);
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
    return "cannot create the program folder " + folder + ": " + std::strerror(errno);
  if (!fs::is_directory(path, ec)) return "the program folder " + folder + " is not a folder";
  SetProgramFolder(folder);
  return "";
}

std::string ShippedFolder() {
  std::string exe = ExecutableFolder();
  return IsInstalledCopy(exe) ? Absolute(exe + DORVANE_DATA_FROM_BIN) : exe;
}

std::string InstalledLibraryFolder() { return Absolute(ExecutableFolder() + DORVANE_LIB_FROM_BIN); }

}  // namespace dorvane
