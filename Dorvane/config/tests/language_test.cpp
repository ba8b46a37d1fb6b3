#include "config/language.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "base/runtime_error.h"
#include "log/logs.h"
#include "tests/support/test_environment.h"

namespace dorvane {
namespace {

TEST(ParseLanguage, KeepsOnlySingleEqualsLinesInsideSections) {
  EXPECT_EQ(ParseLanguage("CPT_before=ignored\r\n"
                          "<MAIN>\r\n"
                          "\tCPT_btnClose = \"Fermer\" \r\n"
                          "CPT_lblTitre=Un, deux\r\n"
                          "TIP_a=b=c\r\n"
                          "; commentaire\r\n"
                          "\r\n"
                          "</MAIN>\r\n"
                          "CPT_after=ignored\r\n"
                          "<CONSTANTS>\r\n"
                          "CST_01=Override\r\n"),
            (std::vector<LangEntry>{{"MAIN", "CPT_btnClose", "Fermer"},
                                    {"MAIN", "CPT_lblTitre", "Un"},
                                    {"CONSTANTS", "CST_01", "Override"}}));
}

TEST(ParseLanguage, QuotedLineKeepsItsComma) {
  EXPECT_EQ(ParseLanguage("<MAIN>\r\n\"CPT_x=Un, deux\"\r\n"),
            (std::vector<LangEntry>{{"MAIN", "CPT_x", "Un, deux"}}));
}

TEST(WindowTexts, EachWindowTakesItsSectionAndTheConstants) {
  std::vector<LangEntry> entries = {
      {"MAIN", "CPT_mnuquit", "Quit"},
      {"MAIN", "CST_03", "Yes"},             // CST outside CONSTANTS: ignored
      {"CONSTANTS", "CPT_mnuquit", "Nope"},  // CPT inside CONSTANTS: ignored
      {"CONSTANTS", "CST_04", "No"},
      {"CONFIGURATION", "NOD_Relay_6", "Relay"},
      {"CONFIGURATION", "TIP_chkRelay", "Relay tip"},
      {"MAIN", "TIP_btnClose", "Close"},
      {"main", "CPT_btnClose", "wrong case"},  // sections are case-sensitive
  };

  WindowLanguage main = WindowTexts("mainf", entries);
  EXPECT_EQ(main.controls,
            (std::vector<ControlText>{{"CPT", "mnuquit", "Quit"}, {"TIP", "btnClose", "Close"}}));
  std::array<std::string, 5> constants = DefaultConstants();
  constants[4] = "No";
  EXPECT_EQ(main.constants, constants);

  WindowLanguage dialog = WindowTexts("FRMConfiguration", entries);
  EXPECT_EQ(dialog.controls, (std::vector<ControlText>{{"NOD", "cat_relay_6", "Relay"},
                                                       {"TIP", "chkRelay", "Relay tip"}}));

  EXPECT_TRUE(WindowTexts("FRMExistUpdate", entries).controls.empty());
}

TEST(WindowTexts, ConstantIndexMustBeANumberFrom0To4) {
  const std::pair<std::string, long> cases[] = {{"CST_05", kErrSubscript},
                                                {"CST_99", kErrSubscript},
                                                {"CST_ab", kErrTypeMismatch},
                                                {"CST_", kErrTypeMismatch}};
  for (const auto& [key, number] : cases) {
    try {
      WindowTexts("mainf", {{"CONSTANTS", key, "x"}});
      ADD_FAILURE() << key << " was accepted";
    } catch (const RuntimeError& e) {
      EXPECT_EQ(e.number(), number) << key;
    }
  }
  EXPECT_EQ(WindowTexts("mainf", {{"CONSTANTS", "CST_Oui02", "two"}}).constants[2], "two");
}

TEST(LOADFile, MissingFileLeavesNoEntriesAndNoLogLine) {
  TestEnvironment t;
  LanguageTexts language{{{"MAIN", "CPT_a", "b"}}, DefaultConstants()};
  LOADFile(language, t.logs, t.files, "xx");
  EXPECT_TRUE(language.entries.empty());
  EXPECT_EQ(language.constants, (std::array<std::string, 5>{}));
  EXPECT_EQ(t.program.Read("maillog.txt"), "");
}

TEST(LOADFile, ReadsTheNamedFileAndLogsIt) {
  TestEnvironment t;
  t.program.Write("language/en.ini", "<CONSTANTS>\r\nCST_03=Yes\r\n</CONSTANTS>\r\n");
  LanguageTexts language;
  LOADFile(language, t.logs, t.files, "en");
  EXPECT_EQ(language.entries, (std::vector<LangEntry>{{"CONSTANTS", "CST_03", "Yes"}}));
  std::string log = t.program.Read("maillog.txt");
  EXPECT_TRUE(log.ends_with(" Dorvane: Chargement du langage\r\n")) << log;
}

// A file that is there but cannot be read is an unexpected error.
TEST(LOADFile, UnreadableFileIsFatal) {
  TestEnvironment t;
  t.program.Write("language/en.ini", "<MAIN>\r\n");
  t.files.Fail("Read", "en.ini", EACCES);
  LanguageTexts language;
  EXPECT_THROW(LOADFile(language, t.logs, t.files, "en"), ProgramEnded);
  EXPECT_NE(t.program.Read("Debug.html").find("Where: MOD:LANGUAGE[LOADFile]<BR>Num\xC3\xA9ro: 70<BR>"),
            std::string::npos);
}

}  // namespace
}  // namespace dorvane
