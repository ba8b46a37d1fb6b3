// A throw-away program folder for MX tests, with debug mode on (so debug
// entries can be checked), no smarthost, DNSServer 127.0.0.53 and an empty
// DNS cache.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "spool/tests/temp_home.h"

namespace dorvane::testing {

class MxFolderTest : public ::testing::Test {
 protected:
  void SetUp() override;

  // The bytes of a program-folder file ("" when missing).
  static std::string ReadFile(const std::string& name);
  // maillog.txt lines without their leading GMTDate stamp.
  static std::vector<std::string> MailLogTails();
  static bool DebugLogHas(const std::string& text);

  testing_support::TempHome home_;
};

}  // namespace dorvane::testing
