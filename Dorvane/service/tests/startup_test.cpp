#include "service/startup.h"

#include <gtest/gtest.h>

#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <set>

#include "base/dialogs.h"
#include "base/program.h"
#include "base/runtime_error.h"
#include "log/logs.h"
#include "service/command_line.h"
#include "service/service_control.h"
#include "tests/support/test_environment.h"

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

class RegistryCleanupTest : public ::testing::Test {
 protected:
  void Install(const std::string& version) {
    registry.keys.insert(kProductKey);
    registry.values[{kProductKey, "System"}] = "Installed";
    registry.values[{kProductKey, "Version"}] = version;
  }
  FakeRegistry registry;
  RecordingDialogs dialogs;
  const std::string product = kProductKey;
};

TEST_F(RegistryCleanupTest, FirstRunMarksTheInstallationWithoutAsking) {
  CleanupRegistry(registry, dialogs);
  EXPECT_TRUE(dialogs.boxes.empty());
  EXPECT_EQ("Installed", registry.QueryString(product, "System"));
  EXPECT_EQ(VersionText(), registry.QueryString(product, "Version"));
  EXPECT_TRUE(registry.KeyExists(product + "\\Configuration"));
}

TEST_F(RegistryCleanupTest, SameVersionIsLeftAlone) {
  Install(VersionText());
  CleanupRegistry(registry, dialogs);
  EXPECT_TRUE(dialogs.boxes.empty());
  EXPECT_TRUE(registry.deleted.empty());
}

// Subkeys go before their parent; "No" keeps everything.
TEST_F(RegistryCleanupTest, OlderRecordsGoOnlyOnYes) {
  for (bool yes : {true, false}) {
    SCOPED_TRACE(yes);
    registry = FakeRegistry();
    dialogs.boxes.clear();
    dialogs.answer = yes;
    registry.keys.insert("Software\\Dorvane");
    Install("2.5");
    CleanupRegistry(registry, dialogs);
    ASSERT_EQ(2u, dialogs.boxes.size());
    EXPECT_EQ("Information Dorvane", dialogs.boxes[1].title);
    EXPECT_NE(std::string::npos, dialogs.boxes[1].text.find("Version détectée: 2.5\r\nVersion à installer: " + VersionText()));
    if (yes) {
      EXPECT_EQ((std::vector<std::string>{"Software\\Dorvane\\Configuration", "Software\\Dorvane",
                                          product + "\\Configuration", product}),
                registry.deleted);
      EXPECT_EQ(VersionText(), registry.QueryString(product, "Version")) << "re-marked as this version";
    } else {
      EXPECT_TRUE(registry.deleted.empty());
      EXPECT_EQ("2.5", registry.QueryString(product, "Version"));
    }
  }
}

// A pid that is sure to be dead: a child that has been reaped.
pid_t DeadPid() {
  pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);
  return child;
}

// A crash (or a full disk) leaves a lock behind; only a live holder
// refuses the start, whatever the file says or whether it can be rewritten.
TEST(InstanceLockTest, OnlyALiveHolderRefusesTheStart) {
  struct Case {
    std::string name;
    std::string content;  // of the lock file before; "-" for no file
    bool held_by_other;   // another open lock on the file
    bool acquired;
  };
  const Case cases[] = {
      {"no lock file", "-", false, true},
      {"stale lock of a dead pid", std::to_string(DeadPid()) + "\nDorvane\n", false, true},
      {"empty lock left by a full disk", "", false, true},
      {"garbage", "\xff\x00zz", false, true},
      {"our own pid from an earlier boot", std::to_string(getpid()) + "\n", false, true},
      {"live instance", "", true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestProgram program;
    std::string path = program.Path("Dorvane.lock");
    if (c.content != "-") program.Write("Dorvane.lock", c.content);
    int other = -1;
    if (c.held_by_other) {
      other = open(path.c_str(), O_RDWR | O_CREAT, 0600);
      ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    }
    {
      InstanceLock lock;
      EXPECT_EQ(lock.Acquire(path), c.acquired);
      if (c.acquired) {
        EXPECT_EQ(program.Read("Dorvane.lock"), std::to_string(getpid()) + "\nDorvane\n");
      }
      InstanceLock second;
      EXPECT_FALSE(second.Acquire(path)) << "the lock is not held";
    }
    if (other >= 0) close(other);
    InstanceLock after;
    EXPECT_TRUE(after.Acquire(path)) << "the lock outlived its holder";
  }
}

// What stops start-up, and what a whole start leaves running: the key-less
// settings of a fresh folder have LaunchStart on.
TEST(StartupTest, FormLoadRefusesOrStartsTheService) {
  struct Case {
    std::string name;
    std::function<std::string()> resolver_version;
    bool other_instance;
    std::optional<StartOutcome> outcome;  // nothing: a fatal report
    std::string box;
  };
  const std::string refused = "Cette version Dorvane n\xC3\xA9" "cessite Mxfinder 3.0 !\r\n\r\nL'application ne peut continuer ...";
  const Case cases[] = {
      {"all in order", [] { return std::string("3.0"); }, false, StartOutcome::Running, ""},
      {"resolver of another version", [] { return std::string("2.9"); }, false, StartOutcome::Ended, refused},
      {"no resolver library", [] { return Raise(429, "Mxfinder", "ActiveX component can't create object"), std::string(); },
       false, std::nullopt, ""},
      {"another instance runs", [] { return std::string("3.0"); }, true, StartOutcome::Ended,
       "Dorvane est d\xC3\xA9j\xC3\xA0 lanc\xC3\xA9 !"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestEnvironment t;
    t.form.smtp.Load(0);
    t.form.distant.Load(0);
    InstanceLock other;
    if (c.other_instance) {
      ASSERT_TRUE(other.Acquire(t.program.Path("Dorvane.lock")));
    }
    struct : Autostart {
      void Follow(bool) override {}
    } autostart;
    ServiceControl control(t.env, autostart, {});
    std::vector<std::string> calls;
    StartupCalls around{c.resolver_version, [&] { calls.push_back("language"); },
                        [&] { calls.push_back("version check"); }};
    FakeRegistry registry;
    Startup startup(t.env, control, around, &registry);
    if (!c.outcome) {
      EXPECT_THROW(startup.Form_Load(), ProgramEnded);
      continue;
    }
    EXPECT_EQ(*c.outcome, startup.Form_Load());
    bool running = *c.outcome == StartOutcome::Running;
    EXPECT_EQ(running, control.Started());
    std::vector<std::string> around_calls;
    if (running) around_calls = {"language", "version check"};
    EXPECT_EQ(around_calls, calls);
    EXPECT_EQ(running ? "Installed" : "", registry.QueryString(kProductKey, "System"));
    std::string box = t.program.dialogs.boxes.empty() ? "" : t.program.dialogs.boxes.back().text;
    EXPECT_EQ(c.box, box);
    std::string log = t.program.Read("maillog.txt");
    std::string first = log.substr(0, log.find("\r\n"));
    std::string names = " Dorvane 3.0: dossier du programme " + t.program.folder();
    EXPECT_EQ(c.other_instance ? "" : names, first.substr(std::min(first.size(), size_t{20})))
        << "the first line of a start names its folder; a refused start leaves the log alone";
  }
}

// Files and folders of an older run (or made by hand) lose their group
// and other bits at start; links and files that are not the relay's are
// left alone.
TEST(RestrictModesTest, BringsTheRelaysFilesDownToTheOwner) {
  namespace fs = std::filesystem;
  TestProgram program;
  auto mode = [&](const std::string& name) {
    struct stat st {};
    lstat(program.Path(name).c_str(), &st);
    return st.st_mode & 07777;
  };
  for (const char* name : {"OutBox", "Deferred", "Error", "language"})
    fs::create_directory(program.Path(name));
  for (const char* name : {"OutBox/m1", "Error/m2", "language/en.ini", "maillog.txt", "Debug.html",
                           "Dorvane.ini", "Hosts.dns", "mine.txt"})
    program.Write(name, "x");
  fs::create_symlink(program.Path("mine.txt"), program.Path("Deferred/link"));
  for (const char* name : {"OutBox", "Deferred", "Error", "language"}) chmod(program.Path(name).c_str(), 0755);
  for (const char* name : {"OutBox/m1", "Error/m2", "language/en.ini", "maillog.txt", "Debug.html",
                           "Dorvane.ini", "Hosts.dns", "mine.txt"})
    chmod(program.Path(name).c_str(), 0644);
  chmod(program.Path("maillog.txt").c_str(), 0444);  // read-only stays read-only

  EXPECT_EQ(RestrictProgramFolderModes(), 11u);
  for (const char* name : {"OutBox", "Deferred", "Error", "language"}) EXPECT_EQ(mode(name), 0700u) << name;
  for (const char* name : {"OutBox/m1", "Error/m2", "language/en.ini", "Debug.html", "Dorvane.ini", "Hosts.dns"})
    EXPECT_EQ(mode(name), 0600u) << name;
  EXPECT_EQ(mode("maillog.txt"), 0400u);
  EXPECT_EQ(mode("mine.txt"), 0644u) << "not the relay's, nor reached through the link";
  EXPECT_EQ(RestrictProgramFolderModes(), 0u) << "nothing left to change";
}

TEST(CommandLineTest, ParsesOptionsAndOneCommand) {
  struct Case {
    std::vector<std::string> args;
    bool headless;
    std::string home, command;
    bool error;
    std::string argument = "";
    bool help = false, version = false, json = false, log_stderr = false;
  };
  const Case cases[] = {
      {{}, false, "", "", false},
      {{"--headless", "--home", "/h"}, true, "/h", "", false},
      {{"--home", "/h", "status"}, false, "/h", "status", false},
      {{"stop"}, false, "", "stop", false},
      {{"--home"}, false, "", "", true},
      {{"start", "stop"}, false, "", "start", true},
      {{"--verbose"}, false, "", "", true},
      {{"--help"}, false, "", "", false, "", true},
      {{"--version"}, false, "", "", false, "", false, true},
      {{"--home", "/h", "queue", "--json"}, false, "/h", "queue", false, "", false, false, true},
      {{"retry", "m1"}, false, "", "retry", false, "m1"},
      {{"delete", "m1"}, false, "", "delete", false, "m1"},
      {{"retry"}, false, "", "retry", true},
      {{"status", "--json"}, false, "", "status", true, "", false, false, true},
      {{"queue", "m1"}, false, "", "queue", true},
      {{"--log-stderr", "--headless"}, true, "", "", false, "", false, false, false, true},
      {{"--log-stderr", "status"}, false, "", "status", false, "", false, false, false, true},
      {{"--log-stderr=yes"}, false, "", "", true},
  };
  for (const Case& c : cases) {
    CommandLine line = ParseCommandLine(c.args);
    SCOPED_TRACE(testing::PrintToString(c.args));
    EXPECT_EQ(c.headless, line.headless);
    EXPECT_EQ(c.home, line.home);
    EXPECT_EQ(c.command, line.command);
    EXPECT_EQ(c.error, !line.error.empty()) << line.error;
    EXPECT_EQ(c.argument, line.argument);
    EXPECT_EQ(c.help, line.help);
    EXPECT_EQ(c.version, line.version);
    EXPECT_EQ(c.json, line.json);
    EXPECT_EQ(c.log_stderr, line.log_stderr);
  }
}

// Each variable alone decides its question; an empty one counts as unset.
TEST(CommandLineTest, EnvironmentTellsDisplayAndServiceManager) {
  struct Case {
    const char* name;
    const char* value;
    bool display, service_manager;
  };
  const Case cases[] = {
      {"HOME", "/h", false, false},
      {"DISPLAY", "", false, false},
      {"DISPLAY", ":0", true, false},
      {"WAYLAND_DISPLAY", "wayland-0", true, false},
      {"QT_QPA_PLATFORM", "offscreen", true, false},
      {"INVOCATION_ID", "0123abcd", false, true},
      {"JOURNAL_STREAM", "8:12345", false, true},
      {"JOURNAL_STREAM", "", false, false},
  };
  for (const Case& c : cases) {
    auto get = [&](const char* n) { return std::string(n) == c.name ? c.value : nullptr; };
    SCOPED_TRACE(std::string(c.name) + "=" + c.value);
    EXPECT_EQ(c.display, DisplayAvailable(get));
    EXPECT_EQ(c.service_manager, UnderServiceManager(get));
  }
}

}  // namespace
}  // namespace dorvane
