#include "tests/support/temp_home.h"

namespace dorvane::testing_support {

TempHome::TempHome() {
  program_.MakeSpoolFolders();
  Settings& settings = GlobalSettings();
  settings.config_loaded = true;
  settings.running.DebugMode = false;
  PushDebugMode(settings, GlobalLogs());
}

}  // namespace dorvane::testing_support
