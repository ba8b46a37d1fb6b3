#include "tests/support/temp_home.h"

namespace dorvane::testing_support {

TempHome::TempHome() {
  for (const char* folder : {"OutBox", "Deferred", "Error"})
    std::filesystem::create_directory(program_.Path(folder));
  Settings& settings = GlobalSettings();
  settings.config_loaded = true;
  settings.running.DebugMode = false;
  PushDebugMode(settings, GlobalLogs());
}

}  // namespace dorvane::testing_support
