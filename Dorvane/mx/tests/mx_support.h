// Test fixture for MX code that touches the program folder: a fresh
// temporary folder, a loaded configuration in debug mode (so debug entries
// are written), no smarthost, an empty DNS cache, and fatal reports turned
// into exceptions.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace dorvane::testing {

struct FatalReport {
  int status;
};

class MxFolderTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The file's bytes ("" when missing).
  std::string ReadFile(const std::string& name) const;
  void WriteFile(const std::string& name, const std::string& bytes) const;
  // maillog.txt lines with their leading GMTDate stamp and blank removed.
  std::vector<std::string> MailLogTails() const;
  // Whether Debug.html holds `text`.
  bool DebugLogHas(const std::string& text) const;

  std::string folder_;
};

}  // namespace dorvane::testing
