// Transitional: the old program folder of the spool, inbound and delivery
// tests, built on TestProgram, until each of them uses TestEnvironment.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "base/program.h"
#include "config/configuration.h"
#include "log/logs.h"
#include "tests/support/test_harness.h"

namespace dorvane::testing_support {

// What a fatal report throws in these tests.
using FatalReport = ProgramEnded;

// A TestProgram with the three spool folders, the configuration marked
// loaded and the debug log off, so multi-megabyte texts are not copied
// into it.
class TempHome {
 public:
  TempHome();

  std::filesystem::path Path(const std::string& name) const { return program_.Path(name); }
  // File names in `folder`, sorted.
  std::vector<std::string> Files(const std::string& folder) const { return program_.List(folder); }

 private:
  TestProgram program_;
};

}  // namespace dorvane::testing_support
