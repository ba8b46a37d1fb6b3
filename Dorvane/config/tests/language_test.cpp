#include "config/language.h"

#include <gtest/gtest.h>

#include "base/runtime_error.h"
#include "tests/support/test_harness.h"

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
  TestProgram program;
  LangEntries = {{"MAIN", "CPT_a", "b"}};
  CONSTANTS = DefaultConstants();
  LOADFile("xx");
  EXPECT_TRUE(LangEntries.empty());
  EXPECT_EQ(CONSTANTS, (std::array<std::string, 5>{}));
  EXPECT_EQ(program.Read("maillog.txt"), "");
}

TEST(LOADFile, ReadsTheNamedFileAndLogsIt) {
  TestProgram program;
  program.Write("language/en.ini", "<CONSTANTS>\r\nCST_03=Yes\r\n</CONSTANTS>\r\n");
  LOADFile("en");
  EXPECT_EQ(LangEntries, (std::vector<LangEntry>{{"CONSTANTS", "CST_03", "Yes"}}));
  std::string log = program.Read("maillog.txt");
  EXPECT_TRUE(log.ends_with(" Dorvane: Chargement du langage\r\n")) << log;
}

}  // namespace
}  // namespace dorvane
