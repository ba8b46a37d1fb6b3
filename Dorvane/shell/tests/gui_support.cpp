#include "gui_support.h"

#include <QApplication>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace dorvane::test {

void EnsureGuiApp() {
  static int argc = 1;
  static char name[] = "dorvane_shell_tests";
  static char* argv[] = {name, nullptr};
  if (QCoreApplication::instance()) return;
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  // Never destroyed: tearing Qt down among other statics at exit crashes.
  auto* app = new QApplication(argc, argv);
  app->setQuitOnLastWindowClosed(false);
}

std::string ReadSource(const std::string& path) {
  std::ifstream in(std::filesystem::path(DORVANE_SOURCE_DIR) / path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace dorvane::test
