#include "shell/config_values.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/test_harness.h"

namespace dorvane {
namespace {

TEST(ConfigValuesTest, EverySettingSurvivesTextsAndBack) {
  CConfiguration c;
  c.LaunchStart = false, c.DebugMode = true, c.ComputerStart = true, c.DNSServer = "127.0.0.53";
  c.Language = "en", c.KeepLocal = true, c.ListenPort = 2525, c.SmtpServer = "relay.example";
  c.MaxNbrAttempt = 255, c.AttemptDelay = 90, c.Relay = false;
  c.SmtpPort = 465, c.SmtpSecurity = "Tls", c.SmtpUser = "me@home.test", c.SmtpTlsVerify = false;
  auto texts = AllTexts(c);
  EXPECT_EQ(texts.size(), SettingsTable().size());
  CConfiguration back = ConfigFromTexts(texts);
  EXPECT_EQ(AllTexts(back), texts);
  EXPECT_EQ(DefinedTexts(back), texts);
  EXPECT_TRUE(back.RelayDefined);
  EXPECT_FALSE(back.Relay);
}

TEST(ConfigValuesTest, EmptyTextValueIsStillASetting) {
  CConfiguration c;
  c.DNSServerDefined = true;  // discovery found a server list without address
  EXPECT_EQ(DefinedTexts(c), (std::map<std::string, std::string>{{"DNSServer", ""}}));
}

TEST(ConfigValuesTest, LanguageIsOfferedOnlyWithItsIcon) {
  TestProgram program;
  std::filesystem::create_directories(program.Path("language"));
  program.Write("language/en.ini", "");
  program.Write("language/en.ico", "");
  program.Write("language/de.ini", "");
  program.Write("language/it.ico", "");
  EXPECT_EQ(AvailableLanguages(), std::vector<std::string>{"en"});
}

}  // namespace
}  // namespace dorvane
