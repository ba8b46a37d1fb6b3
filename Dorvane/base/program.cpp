#include "base/program.h"

#include <unistd.h>

#include <filesystem>

namespace dorvane {
namespace {

std::string& FolderStorage() {
  static std::string folder = ExecutableFolder();
  return folder;
}

}  // namespace

std::string VersionText() {
  return std::to_string(DORVANE_VERSION_MAJOR) + "." + std::to_string(DORVANE_VERSION_MINOR);
}

const std::string& ProgramFolder() { return FolderStorage(); }

void SetProgramFolder(const std::string& folder) {
  std::string f = folder;
  if (f.empty() || f.back() != '/') f += '/';
  FolderStorage() = f;
}

std::string ProgramPath(const std::string& name) { return ProgramFolder() + name; }

std::string ExecutableFolder() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return "./";
  std::string dir = exe.parent_path().string();
  return dir.empty() || dir.back() != '/' ? dir + "/" : dir;
}


}  // namespace dorvane
