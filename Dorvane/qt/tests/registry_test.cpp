#include "qt/registry.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "base/program.h"
#include "qt/autostart.h"
#include "tests/support/test_harness.h"

namespace dorvane {
namespace {

const char* const kProduct = "Software\\Groupe Telvar\\Dorvane";

class RegistryTest : public ::testing::Test {
 protected:
  std::string Entry() const { return program_.Read("xdg/autostart/dorvane.desktop"); }
  void WriteEntry(const std::string& bytes) const {
    program_.Write("xdg/autostart/dorvane.desktop", bytes);
  }
  bool EntryExists() const { return std::filesystem::exists(AutostartEntryPath()); }

  TestProgram program_;
};

TEST_F(RegistryTest, ValuesLiveInExistingKeysOnly) {
  EXPECT_EQ(QueryValue(kHKeyLocalMachine, kProduct, "System").error, kRegFileNotFound);
  EXPECT_EQ(SetKeyValue(kHKeyLocalMachine, kProduct, "System", "Installed"), kRegFileNotFound);

  CreateNewKey(kProduct, kHKeyLocalMachine);
  EXPECT_EQ(QueryValue(kHKeyLocalMachine, kProduct, "System").Text(), "");
  EXPECT_EQ(SetKeyValue(kHKeyLocalMachine, kProduct, "System", "Installed"), kRegSuccess);
  EXPECT_EQ(SetKeyValue(kHKeyLocalMachine, kProduct, "Count", 42u), kRegSuccess);

  // Key paths and value names compare without regard to case.
  RegValue system = QueryValue(kHKeyLocalMachine, "SOFTWARE\\groupe telvar\\dorvane\\", "system");
  EXPECT_EQ(system.type, kRegSz);
  EXPECT_EQ(system.Text(), "Installed");
  RegValue count = QueryValue(kHKeyLocalMachine, kProduct, "Count");
  EXPECT_EQ(count.type, kRegDword);
  EXPECT_EQ(count.number, 42u);
  EXPECT_EQ(QueryValue(kHKeyCurrentUser, kProduct, "System").error, kRegFileNotFound);
  EXPECT_EQ(QueryValue(0x12345678, kProduct, "System").error, kRegInvalidHandle);
}

TEST_F(RegistryTest, AwkwardTextSurvivesTheStoreFile) {
  std::string text = "a\tb\\c\r\nd\\te";
  CreateNewKey("Software\\Tab\tKey", kHKeyLocalMachine);
  ASSERT_EQ(SetKeyValue(kHKeyLocalMachine, "Software\\Tab\tKey", "na\\me", text), kRegSuccess);
  EXPECT_EQ(QueryValue(kHKeyLocalMachine, "Software\\Tab\tKey", "na\\me").text, text);
}

TEST_F(RegistryTest, KeyWithSubkeysIsNotDeleted) {
  CreateNewKey(std::string(kProduct) + "\\Configuration", kHKeyLocalMachine);
  SetKeyValue(kHKeyLocalMachine, kProduct, "Version", "2.0");
  EXPECT_EQ(DeleteKey(kHKeyLocalMachine, kProduct), kRegAccessDenied);
  EXPECT_EQ(QueryValue(kHKeyLocalMachine, kProduct, "Version").Text(), "2.0");

  EXPECT_EQ(DeleteKey(kHKeyLocalMachine, std::string(kProduct) + "\\Configuration"), kRegSuccess);
  EXPECT_EQ(DeleteKey(kHKeyLocalMachine, kProduct), kRegSuccess);
  EXPECT_EQ(QueryValue(kHKeyLocalMachine, kProduct, "Version").Text(), "2");
  EXPECT_EQ(DeleteKey(kHKeyLocalMachine, kProduct), kRegFileNotFound);
  // The parent stays.
  EXPECT_EQ(QueryValue(kHKeyLocalMachine, "Software\\Groupe Telvar", "x").error, kRegSuccess);
}

TEST_F(RegistryTest, DeleteValueRemovesOnlyThatValue) {
  CreateNewKey(kProduct, kHKeyLocalMachine);
  SetKeyValue(kHKeyLocalMachine, kProduct, "System", "Installed");
  SetKeyValue(kHKeyLocalMachine, kProduct, "Version", "3.0");
  DeleteValue(kHKeyLocalMachine, kProduct, "SYSTEM");
  DeleteValue(kHKeyLocalMachine, "Software\\Missing", "System");
  EXPECT_EQ(QueryValue(kHKeyLocalMachine, kProduct, "System").type, 0u);
  EXPECT_EQ(QueryValue(kHKeyLocalMachine, kProduct, "Version").Text(), "3.0");
}

TEST_F(RegistryTest, RunValueIsTheAutostartEntry) {
  EXPECT_EQ(QueryValue(kHKeyLocalMachine, kRunKey, kRunValue).error, kRegSuccess);
  EXPECT_EQ(QueryValue(kHKeyLocalMachine, kRunKey, kRunValue).type, 0u);

  ASSERT_EQ(SetKeyValue(kHKeyLocalMachine, kRunKey, kRunValue, "/opt/dorvane/dorvane"),
            kRegSuccess);
  EXPECT_NE(Entry().find("\nExec=/opt/dorvane/dorvane\n"), std::string::npos) << Entry();
  EXPECT_EQ(QueryValue(kHKeyLocalMachine, kRunKey, kRunValue).Text(), "/opt/dorvane/dorvane");

  DeleteValue(kHKeyLocalMachine, kRunKey, kRunValue);
  EXPECT_FALSE(EntryExists());
}

TEST(DesktopExec, ArgumentsRoundTripThroughTheCommandLine) {
  for (std::string path : {"/opt/dorvane/dorvane", "/home/a b/dorvane", "/x/100%/dorvane",
                           "/x/$HOME/\"q\"/dorvane", "/x/back\\slash/dorvane", "/x/`id`;#'~/dorvane", ""}) {
    std::vector<std::string> args = {"/usr/bin/dorvane", "--home", path};
    EXPECT_EQ(DesktopExecArgs(DesktopExecCommand(args)), args) << DesktopExecCommand(args);
  }
}

TEST_F(RegistryTest, EntryRunsThisProgramFolderWhateverItsName) {
  const std::string chosen = program_.folder() + "/my \"mail\" $HOME 100% back\\slash\nline";
  std::filesystem::create_directories(chosen);
  SetProgramFolder(chosen);
  SetComputerStart(true);
  // One Exec= line that a session reads back as this executable and folder.
  std::string entry = Entry(), line = entry.substr(entry.find("\nExec=") + 6);
  EXPECT_EQ(DesktopExecArgs(UnescapeBackslashes(line.substr(0, line.find('\n')))),
            (std::vector<std::string>{ExecutableFolder() + "dorvane", "--home", chosen})) << entry;
}

struct StartCase {
  const char* name;
  bool enable;
  const char* before;  // Exec= of the entry before; nullptr: no entry
  const char* after;   // Exec= expected after; nullptr: no entry
  bool rewritten;
};

TEST_F(RegistryTest, SetComputerStartWritesWhenDifferentAndRemovesOnlyItsOwnEntry) {
  const std::string self = ComputerStartCommand();
  const std::string other = "/elsewhere/dorvane --home /elsewhere";
  const std::string bare = ExecutableFolder() + "dorvane";
  const std::string other_home = DesktopExecCommand({ExecutableFolder() + "dorvane", "--home", "/other/home"});
  const StartCase cases[] = {
      {"on, missing", true, nullptr, self.c_str(), true},
      {"on, already right", true, self.c_str(), self.c_str(), false},
      {"on, moved program", true, other.c_str(), self.c_str(), true},
      {"off, missing", false, nullptr, nullptr, false},
      {"off, ours", false, self.c_str(), nullptr, false},
      {"off, another copy", false, other.c_str(), other.c_str(), false},
      {"on, this program for another folder", true, other_home.c_str(), self.c_str(), true},
      {"off, this program for another folder", false, other_home.c_str(), other_home.c_str(), false},
      {"off, from before the folder was carried", false, bare.c_str(), bare.c_str(), false},
  };
  for (const StartCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(AutostartEntryPath());
    // The marker line shows whether the file was rewritten.
    if (c.before) WriteEntry(std::string("[Desktop Entry]\nX-Marker=1\nExec=") + c.before + "\n");
    SetComputerStart(c.enable);
    EXPECT_EQ(ReadAutostartExec().value_or("(none)"), c.after ? c.after : "(none)");
    if (c.after) {
      EXPECT_EQ(Entry().find("X-Marker") == std::string::npos, c.rewritten);
    }
  }
  // An entry from before the folder was carried started this setup when
  // the program folder is the executable's own: it is ours to remove.
  SetProgramFolder(ExecutableFolder());
  WriteEntry("[Desktop Entry]\nExec=" + bare + "\n");
  SetComputerStart(false);
  EXPECT_FALSE(EntryExists());
}

}  // namespace
}  // namespace dorvane
