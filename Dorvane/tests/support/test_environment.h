// A whole Environment for a unit test: the fake form, the slot pools, the
// settings, the logs and the recording dialogs of a throw-away program
// folder, a file system that fails on demand, a clock the test moves and an
// event loop the test runs by hand.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/event_loop.h"
#include "base/files.h"
#include "config/configuration.h"
#include "log/logs.h"
#include "mx/dns_cache.h"
#include "mx/mx_lookup.h"
#include "relay/connexion.h"
#include "spool/message.h"
#include "spool/spool_committer.h"
#include "relay/environment.h"
#include "tests/support/fake_form.h"
#include "tests/support/test_harness.h"

namespace dorvane {

namespace fake {

// The real file system, with chosen operations failing: each rule makes
// the named operation ("WriteDurable", "Append", "Read", "Rename",
// "Remove", "SyncFolder") fail with `error` on every path containing
// `path_part`. FreeBytes answers `free_bytes` when set. `calls` counts the
// looks that cost a system call per file or folder ("List", "IsFile",
// "ModifiedTime", "Exists"), by name.
class FailingFiles : public Files {
 public:
  void Fail(const std::string& operation, const std::string& path_part, int error);
  void Clear() { rules_.clear(); }
  std::optional<uint64_t> free_bytes;
  std::map<std::string, int> calls;

  int WriteDurable(const std::string& path, std::string_view bytes) override;
  int Append(const std::string& path, std::string_view bytes) override;
  int Read(const std::string& path, std::string* bytes) override;
  int Rename(const std::string& from, const std::string& to) override;
  // Fail as WriteDurable and Rename do.
  int WriteDurableNew(const std::string& path, std::string_view bytes) override;
  int RenameNew(const std::string& from, const std::string& to) override;
  int Remove(const std::string& path) override;
  int SyncFolder(const std::string& folder) override;
  std::vector<std::string> List(const std::string& folder) override;
  bool IsFile(const std::string& path) override;
  std::optional<std::time_t> ModifiedTime(const std::string& path) override;
  std::optional<uint64_t> FreeBytes(const std::string& folder) override;
  // Fails as Read does.
  int ReadAtMost(const std::string& path, size_t limit, std::string* bytes) override;
  bool Exists(const std::string& path) override;

 private:
  // The error of the first rule matching, 0 when none does.
  int Failure(const std::string& operation, const std::string& path) const;
  DiskFiles disk_;
  std::multimap<std::string, std::pair<std::string, int>> rules_;
};

// A clock that moves only when told; Random counts up.
class ManualClock : public Clock {
 public:
  std::time_t Now() override { return now; }
  std::chrono::steady_clock::time_point Steady() override { return steady; }
  uint32_t Random() override { return ++random; }
  // Moves both clocks on by `seconds`.
  void Advance(int64_t seconds);
  std::time_t now = 1700000000;
  std::chrono::steady_clock::time_point steady{std::chrono::hours(1)};
  uint32_t random = 0;
};

// Keeps posted work and timers until the test runs them.
class ManualLoop : public EventLoop {
 public:
  void Post(std::function<void()> task) override { tasks.push_back(std::move(task)); }
  std::unique_ptr<RepeatingTimer> Every(std::chrono::milliseconds interval,
                                        std::function<void()> tick) override;
  // Runs posted work, including work posted meanwhile, until none is left
  // or `limit` tasks have run; returns how many ran.
  int RunPosted(int limit = 10000);
  // Ticks every live timer once, in the order they were made.
  void TickTimers();
  // Live timers.
  size_t TimerCount() const { return timers_.size(); }
  std::deque<std::function<void()>> tasks;

 private:
  class Timer;
  std::map<int, std::function<void()>> timers_;
  int next_timer_ = 0;
};

}  // namespace fake

// While alive: a TestProgram (folder, dialogs, fatal trap, the fatal report
// on these logs), a fake form, empty slot pools whose routes use this
// environment's settings, DNS cache and resolver (one that finds nothing
// unless the test sets `mx_lookup`), fresh settings and logs. `env` hands
// all of it to the code under test.
class TestEnvironment {
 public:
  TestEnvironment();
  ~TestEnvironment();
  TestEnvironment(const TestEnvironment&) = delete;
  TestEnvironment& operator=(const TestEnvironment&) = delete;

  // The lines of log file `name` of the program folder (maillog.txt,
  // error.txt), each without its leading GMTDate stamp.
  std::vector<std::string> LogLines(const std::string& name) const;
  // The names in folder `folder` of the program folder, sorted; none when
  // it is missing.
  std::vector<std::string> FolderFiles(const std::string& folder) const;
  // Writes `message` as spool file `folder`/`name`, and reads one back.
  void WriteMessage(const CMessage& message, const std::string& folder, const std::string& name);
  CMessage ReadMessage(const std::string& folder, const std::string& name);
  // Creates the three spool folders (OutBox, Deferred, Error) empty,
  // emptying them first when they exist.
  void ResetSpoolFolders() const;

  TestProgram program;
  fake::FakeForm form;
  fake::FailingFiles files;
  fake::ManualClock clock;
  fake::ManualLoop loop;
  Settings settings;
  Logs logs;
  DnsCache dns_cache;
  MxLookup mx_lookup;
  SlotPools pools;
  Environment env;
  // Writes at once; the outcome waits on `loop`.
  InlineSpoolCommitter committer{files, loop};

  // Points the network discovery at a resolver file of the test folder
  // naming one loopback server, so the defaults do not depend on the machine.
  void UseLoopbackResolver();
};

}  // namespace dorvane
