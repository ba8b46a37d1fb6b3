#include "spool/spool_blanks.h"

#include <cerrno>

#include "base/files.h"

namespace dorvane {
namespace {

const char kBlankPrefix[] = ".blank-";
const char kBlankSuffix[] = ".tmp";
constexpr int kNameTries = 8;  // a name left by a crash is skipped, not reused

}  // namespace

bool IsBlankFileName(const std::string& name) {
  return name.starts_with(kBlankPrefix) && name.ends_with(kBlankSuffix);
}

SpoolBlanks::~SpoolBlanks() {
  for (const auto& [folder, paths] : waiting_)
    for (const std::string& path : paths) files_.Remove(path);
}

std::string SpoolBlanks::Take(const std::string& folder) {
  std::lock_guard lock(mutex_);
  std::vector<std::string>& paths = waiting_[folder];
  if (paths.empty()) return {};
  std::string path = std::move(paths.back());
  paths.pop_back();
  return path;
}

void SpoolBlanks::Refill(const std::string& folder) {
  for (int tries = 0; tries < kNameTries;) {
    std::string path;
    {
      std::lock_guard lock(mutex_);
      if (waiting_[folder].size() >= per_folder_) return;
      path = folder + "/" + kBlankPrefix + std::to_string(next_++) + kBlankSuffix;
    }
    int err = files_.CreateNew(path);
    if (err != 0) {
      if (err != EEXIST) return;  // a full disk: the messages need it more
      ++tries;
      continue;
    }
    std::lock_guard lock(mutex_);
    waiting_[folder].push_back(std::move(path));
  }
}

}  // namespace dorvane
