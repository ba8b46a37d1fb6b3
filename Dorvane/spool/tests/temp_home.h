// A throw-away program folder for tests: created with the three spool
// folders, installed as the program folder, removed at the end. Fatal
// reports throw instead of ending the test program, and the debug log is
// off so multi-megabyte texts are not copied into it.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include <stdlib.h>

#include "base/program.h"
#include "config/configuration.h"
#include "log/logs.h"

namespace dorvane::testing_support {

struct FatalReport : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class TempHome {
 public:
  TempHome() {
    char pattern[] = "/tmp/dorvane_test_XXXXXX";
    char* dir = mkdtemp(pattern);
    if (!dir) throw std::runtime_error("mkdtemp failed");
    root_ = dir;
    for (const char* f : {"OutBox", "Deferred", "Error"}) std::filesystem::create_directory(root_ / f);
    SetProgramFolder(root_.string() + "/");
    ConfigLoaded = true;
    Config().DebugMode = false;
    PushDebugMode();
    SetFatalExit([](int status) { throw FatalReport("fatal exit " + std::to_string(status)); });
  }
  ~TempHome() {
    std::error_code ec;
    std::filesystem::permissions(root_ / "OutBox", std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(root_, ec);
  }
  TempHome(const TempHome&) = delete;
  TempHome& operator=(const TempHome&) = delete;

  std::filesystem::path Path(const std::string& name) const { return root_ / name; }

  // File names in `folder`, sorted.
  std::vector<std::string> Files(const std::string& folder) const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(root_ / folder))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::filesystem::path root_;
};

}  // namespace dorvane::testing_support
