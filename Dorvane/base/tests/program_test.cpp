#include "base/program.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

namespace dorvane {
namespace {

namespace fs = std::filesystem;

// The folder rule of both commands, over a scratch tree: a build tree's
// bin/, an installed copy (share/dorvane/language beside bin/), a user's
// home; the environment is the case's own.
TEST(ProgramFolderTest, ChosenThenWritableBuildTreeThenUserDataFolder) {
  std::string scratch = (fs::temp_directory_path() / "dorvane-folder-XXXXXX").string();
  ASSERT_NE(nullptr, mkdtemp(scratch.data()));
  const std::string build = scratch + "/build/bin/", installed = scratch + "/usr/bin/";
  fs::create_directories(build);
  fs::create_directories(scratch + "/usr/share/dorvane/language");
  fs::create_directories(installed);
  const std::string home = scratch + "/home/u", data = scratch + "/data";
  const std::string cwd = fs::current_path().string();
  struct Case {
    std::string name, chosen, executable;
    std::map<std::string, std::string> env;
    std::string folder;  // "": no folder
  };
  const Case cases[] = {
      {"--home wins", scratch + "/h", installed, {{"HOME", home}}, scratch + "/h/"},
      {"a relative --home is made absolute", "rel/h/..", build, {}, cwd + "/rel/"},
      {"a writable build tree keeps its folder", "", build, {{"HOME", home}}, build},
      {"an installed copy uses XDG_DATA_HOME", "", installed, {{"HOME", home}, {"XDG_DATA_HOME", data}},
       data + "/dorvane/"},
      {"else the home's data folder", "", installed, {{"HOME", home}}, home + "/.local/share/dorvane/"},
      {"a relative XDG_DATA_HOME is ignored", "", installed, {{"HOME", home}, {"XDG_DATA_HOME", "rel"}},
       home + "/.local/share/dorvane/"},
      {"a folder that is gone is no place to write", "", scratch + "/gone/bin/", {{"HOME", home}},
       home + "/.local/share/dorvane/"},
  };
  const std::string before = ProgramFolder();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto getenv = [&c](const char* n) { return c.env.count(n) ? c.env.at(n).c_str() : nullptr; };
    EXPECT_EQ(c.folder, ChooseProgramFolder(c.chosen, c.executable, getenv));
    if (c.chosen.rfind("rel", 0) == 0) continue;  // not made inside the source tree
    EXPECT_EQ("", UseProgramFolder(c.chosen, c.executable, getenv));
    EXPECT_EQ(c.folder, ProgramFolder());
    struct stat st {};
    ASSERT_EQ(0, ::stat(c.folder.c_str(), &st));
    if (c.folder != build) {
      EXPECT_EQ(0700u, st.st_mode & 07777) << "made private on first use";
    }
  }
  EXPECT_TRUE(IsInstalledCopy(installed));
  EXPECT_FALSE(IsInstalledCopy(build));
  // A folder that cannot be made is said, and the folder stays as it was.
  SetProgramFolder(before);
  std::ofstream(scratch + "/file") << "not a folder";
  EXPECT_NE("", UseProgramFolder(scratch + "/file/h", build, [](const char*) { return nullptr; }));
  EXPECT_EQ(before, ProgramFolder());
  fs::remove_all(scratch);
}

}  // namespace
}  // namespace dorvane
