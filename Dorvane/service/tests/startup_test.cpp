#include "service/startup.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "service/command_line.h"
#include "shell/dialogs.h"

namespace dorvane {
namespace {

struct FakeRegistry : RegistryAccess {
  std::set<std::string> keys;
  std::map<std::pair<std::string, std::string>, std::string> values;
  std::vector<std::string> deleted;
  bool KeyExists(const std::string& k) override { return keys.count(k) != 0; }
  std::string QueryString(const std::string& k, const std::string& n) override {
    auto it = values.find({k, n});
    return it == values.end() ? "" : it->second;
  }
  void CreateKey(const std::string& k) override { keys.insert(k); }
  void SetString(const std::string& k, const std::string& n, const std::string& v) override {
    values[{k, n}] = v;
  }
  void DeleteKey(const std::string& k) override {
    deleted.push_back(k);
    keys.erase(k);
    for (auto it = values.begin(); it != values.end();)
      it = it->first.first == k ? values.erase(it) : std::next(it);
  }
};

struct AnsweringDialogs : Dialogs {
  bool answer = true;
  std::vector<std::string> questions;
  void Message(const std::string&, const std::string&, DialogIcon) override {}
  void Notice(const std::string&, const std::string&, DialogIcon) override {}
  bool Question(const std::string& text, const std::string& title, bool) override {
    questions.push_back(title + "|" + text);
    return answer;
  }
};

class RegistryCleanupTest : public ::testing::Test {
 protected:
  void SetUp() override { SetDialogs(&dialogs); }
  void TearDown() override { SetDialogs(nullptr); }
  void Install(const std::string& version) {
    registry.keys.insert(kProductKey);
    registry.values[{kProductKey, "System"}] = "Installed";
    registry.values[{kProductKey, "Version"}] = version;
  }
  FakeRegistry registry;
  AnsweringDialogs dialogs;
  const std::string product = kProductKey;
};

TEST_F(RegistryCleanupTest, FirstRunMarksTheInstallationWithoutAsking) {
  CleanupRegistry(registry);
  EXPECT_TRUE(dialogs.questions.empty());
  EXPECT_EQ("Installed", registry.QueryString(product, "System"));
  EXPECT_EQ("3.0", registry.QueryString(product, "Version"));
  EXPECT_TRUE(registry.KeyExists(product + "\\Configuration"));
}

TEST_F(RegistryCleanupTest, SameVersionIsLeftAlone) {
  Install("3.0");
  CleanupRegistry(registry);
  EXPECT_TRUE(dialogs.questions.empty());
  EXPECT_TRUE(registry.deleted.empty());
}

// Subkeys go before their parent; "No" keeps everything.
TEST_F(RegistryCleanupTest, OlderRecordsGoOnlyOnYes) {
  for (bool yes : {true, false}) {
    SCOPED_TRACE(yes);
    registry = FakeRegistry();
    dialogs.questions.clear();
    dialogs.answer = yes;
    registry.keys.insert("Software\\Dorvane");
    Install("2.5");
    CleanupRegistry(registry);
    ASSERT_EQ(2u, dialogs.questions.size());
    EXPECT_NE(std::string::npos, dialogs.questions[1].find("Version détectée: 2.5\r\nVersion à installer: 3.0"));
    if (yes) {
      EXPECT_EQ((std::vector<std::string>{"Software\\Dorvane\\Configuration", "Software\\Dorvane",
                                          product + "\\Configuration", product}),
                registry.deleted);
      EXPECT_EQ("3.0", registry.QueryString(product, "Version")) << "re-marked as this version";
    } else {
      EXPECT_TRUE(registry.deleted.empty());
      EXPECT_EQ("2.5", registry.QueryString(product, "Version"));
    }
  }
}

TEST(CommandLineTest, ParsesOptionsAndOneCommand) {
  struct Case {
    std::vector<std::string> args;
    bool headless;
    std::string home, command;
    bool error;
  };
  const Case cases[] = {
      {{}, false, "", "", false},
      {{"--headless", "--home", "/h"}, true, "/h", "", false},
      {{"--home", "/h", "status"}, false, "/h", "status", false},
      {{"stop"}, false, "", "stop", false},
      {{"--home"}, false, "", "", true},
      {{"start", "stop"}, false, "", "start", true},
      {{"--verbose"}, false, "", "", true},
  };
  for (const Case& c : cases) {
    CommandLine line = ParseCommandLine(c.args);
    SCOPED_TRACE(testing::PrintToString(c.args));
    EXPECT_EQ(c.headless, line.headless);
    EXPECT_EQ(c.home, line.home);
    EXPECT_EQ(c.command, line.command);
    EXPECT_EQ(c.error, !line.error.empty()) << line.error;
  }
}

TEST(CommandLineTest, AnyDisplayVariableMeansDesktop) {
  std::map<std::string, const char*> env;
  auto get = [&](const char* n) { return env.count(n) ? env[n] : nullptr; };
  EXPECT_FALSE(DisplayAvailable(get));
  env["DISPLAY"] = "";
  EXPECT_FALSE(DisplayAvailable(get)) << "an empty variable is no display";
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    env.clear();
    env[name] = "x";
    EXPECT_TRUE(DisplayAvailable(get)) << name;
  }
}

}  // namespace
}  // namespace dorvane
