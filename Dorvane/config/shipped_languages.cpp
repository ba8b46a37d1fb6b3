#include "config/shipped_languages.h"

#include <filesystem>

#include "base/program.h"

namespace dorvane {

void InstallShippedLanguages() {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path shipped = fs::path(ShippedFolder()) / "language";
  fs::path target = fs::path(ProgramPath("language"));
  if (!fs::is_directory(shipped, ec) || fs::equivalent(shipped, target, ec)) return;
  fs::create_directories(target, ec);
  for (auto it = fs::directory_iterator(shipped, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
    if (!it->is_regular_file(ec)) continue;
    std::error_code copy_ec;
    fs::copy_file(it->path(), target / it->path().filename(), fs::copy_options::skip_existing, copy_ec);
  }
}

}  // namespace dorvane
