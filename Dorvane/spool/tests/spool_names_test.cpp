#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <set>

#include "base/clock.h"
#include "base/runtime_error.h"
#include "spool/domain_split.h"
#include "spool/message.h"
#include "spool/random_file.h"
#include "spool/spool_blanks.h"
#include "spool/spool_committer.h"
#include "spool/spool_file.h"
#include "tests/support/test_environment.h"

namespace dorvane {
namespace {

TEST(SpoolNames, RandomNamesAreTwoUpperHexNumbersBelowEFFFF) {
  SystemClock clock;
  std::set<std::string> seen;
  for (int i = 0; i < 2000; ++i) {
    std::string name = RandomFileGet(clock);
    ASSERT_GE(name.size(), 2u);
    ASSERT_LE(name.size(), 10u);
    EXPECT_EQ(std::string::npos, name.find_first_not_of("0123456789ABCDEF")) << name;
    seen.insert(name);
  }
  EXPECT_GT(seen.size(), 1990u);  // no repeats to speak of
  // Numbers past the last whole multiple of EFFFF are drawn again, so no
  // name is likelier than another.
  fake::ManualClock top;
  top.random = 0xFFFFFFFE;  // the next draws: FFFFFFFF, then 0 and 1
  EXPECT_EQ(RandomFileGet(top), "01");
}

TEST(SpoolNames, FreshNameNeverNamesAnExistingSpoolFile) {
  TestEnvironment t;
  t.ResetSpoolFolders();
  // The manual clock's draws are 1, 2, 3, ...: names 12, 34, 56, 78.
  t.program.Write("OutBox/12", "x");
  t.program.Write("Deferred/34", "x");
  t.program.Write("OutBox/.56.tmp", "x");
  EXPECT_EQ(FreshSpoolName(t.files, t.clock), "78");
}

TEST(SpoolNames, StagingFilesAreNotSpoolFiles) {
  std::string staging = StagingPath("/home/OutBox/3F2A1C9B04-0");
  EXPECT_EQ("/home/OutBox/.3F2A1C9B04-0.tmp", staging);
  EXPECT_FALSE(IsSpoolFileName(".3F2A1C9B04-0.tmp"));
  EXPECT_FALSE(IsSpoolFileName(""));
  EXPECT_TRUE(IsSpoolFileName("3F2A1C9B04-0"));
  EXPECT_TRUE(IsSpoolFileName("A0"));
}

TEST(Domains, GetDomainTakesTheTextAfterTheFirstAt) {
  EXPECT_EQ("b.example", GetDomain("<a@b.example>"));
  EXPECT_EQ("b@c.d", GetDomain("<a@b@c.d>"));
  EXPECT_THROW(GetDomain("<nobody>"), RuntimeError);
}

CMessage ThreeRecipientsInTwoDomains() {
  CMessage m;
  m.From = "<me@here.fr>";
  m.AddRcptTo("<a@one.fr>");
  m.AddRcptTo("<b@two.fr>");
  m.AddRcptTo("<c@one.fr>");
  m.Data = "text\r\n";
  m.TxtEng = SpoolWarningEnglish();
  m.Essai = 2;
  return m;
}

TEST(Domains, SplitGroupsRecipientsByFirstAppearance) {
  TestEnvironment t;
  t.ResetSpoolFolders();
  std::vector<std::string> ids = WriteSplitByDomain(t.files, t.logs, t.clock, ThreeRecipientsInTwoDomains());
  EXPECT_EQ(ids, (std::vector<std::string>{"12-0", "34-1"}));
  EXPECT_EQ(t.FolderFiles("OutBox"), ids);

  std::vector<std::vector<std::string>> want = {{"", "<a@one.fr>", "<c@one.fr>"},
                                                {"", "<b@two.fr>"}};
  for (size_t g = 0; g < 2; ++g) {
    CMessage part;
    part.MOpen(t.files, t.logs, SpoolPath(kOutBox, ids[g]));
    EXPECT_EQ(ids[g], part.ID);
    EXPECT_EQ(want[g], part.RcptToList());
    EXPECT_EQ("<me@here.fr>", part.From);
    EXPECT_EQ("text\r\n", part.Data);
    EXPECT_EQ(2, part.Essai);
    EXPECT_EQ(SpoolWarningEnglish(), part.TxtEng);
  }
}

// The parts of one message appear together or not at all; a failure
// reported (the sender tries again) leaves none behind.
TEST(Domains, SplitThatFailsOnItsLastPartLeavesNoPart) {
  for (const char* operation : {"Rename", "SyncFolder"}) {
    TestEnvironment t;
    t.ResetSpoolFolders();
    t.files.Fail(operation, operation == std::string("Rename") ? "-1" : "OutBox", EIO);
    EXPECT_THROW(WriteSplitByDomain(t.files, t.logs, t.clock, ThreeRecipientsInTwoDomains()), RuntimeError)
        << operation;
    EXPECT_EQ(t.FolderFiles("OutBox"), std::vector<std::string>{}) << operation;
  }
}

// A name another writer (a second program) took between the draw and the
// write fails the write; that writer's file, or staging file, stays as it is.
TEST(Domains, SplitNeverReplacesAFileAnotherWriterPutThere) {
  for (const char* theirs : {"34-1", ".34-1.tmp"}) {
    SCOPED_TRACE(theirs);
    TestEnvironment t;
    t.ResetSpoolFolders();
    t.program.Write(std::string(kOutBox) + "/" + theirs, "their message");
    EXPECT_THROW(WriteSplitByDomain(t.files, t.logs, t.clock, ThreeRecipientsInTwoDomains()), RuntimeError);
    EXPECT_EQ(t.program.Read(std::string(kOutBox) + "/" + theirs), "their message");
    EXPECT_EQ(t.FolderFiles("OutBox"), std::vector<std::string>{theirs});  // and none of ours
  }
}

TEST(Domains, SeveralRecipientsInOneDomainMakeOneFile) {
  CMessage m;
  m.AddRcptTo("<a@x.fr>");
  m.AddRcptTo("<b@x.fr>");
  auto groups = GroupRcptToByDomain(m);
  ASSERT_EQ(1u, groups.size());
  EXPECT_EQ((std::vector<std::string>{"<a@x.fr>", "<b@x.fr>"}), groups[0]);
}

TEST(SpoolStaging, StaleStagingFilesGoButMessagesAndOtherFilesStay) {
  TestEnvironment t;
  t.ResetSpoolFolders();
  const std::vector<std::string> stale = {StagingPath(SpoolPath(kOutBox, "A1")),
                                          StagingPath(SpoolPath(kDeferred, "B2-0")),
                                          StagingPath(SpoolPath(kError, "C3"))};
  const std::vector<std::string> kept = {SpoolPath(kOutBox, "A1"), SpoolPath(kOutBox, ".hidden")};
  for (const auto& p : stale) std::ofstream(p) << "half";
  for (const auto& p : kept) std::ofstream(p) << "whole";
  // One that cannot be removed is not reported as removed.
  std::ofstream(StagingPath(SpoolPath(kError, "D4"))) << "half";
  t.files.Fail("Remove", "D4", EACCES);
  // A blank goes too, but is reported only when a message was being
  // written into it.
  const std::string unused_blank = SpoolPath(kOutBox, ".blank-7.tmp");
  std::ofstream{unused_blank};
  std::ofstream(SpoolPath(kOutBox, ".blank-8.tmp")) << "half";
  std::vector<std::string> removed = RemoveStaleStagingFiles(t.files);
  std::sort(removed.begin(), removed.end());
  std::vector<std::string> expected = stale;
  expected.push_back(SpoolPath(kOutBox, ".blank-8.tmp"));
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(expected, removed);
  EXPECT_FALSE(std::filesystem::exists(unused_blank));
  for (const auto& p : kept) EXPECT_TRUE(std::filesystem::exists(p)) << p;
}

// ---- the spool committers ---------------------------------------------------

constexpr std::chrono::seconds kPatience{10};  // bound of every wait below

// Outcomes posted from any thread, run by the test.
class ThreadSafeLoop : public EventLoop {
 public:
  void Post(std::function<void()> task) override {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
    posted_.notify_all();
  }
  std::unique_ptr<RepeatingTimer> Every(std::chrono::milliseconds, std::function<void()>) override {
    return nullptr;
  }
  // Waits until `count` tasks in all were posted, then runs those posted so
  // far; how many ran.
  size_t RunWhenPosted(size_t count) {
    std::vector<std::function<void()>> tasks;
    {
      std::unique_lock lock(mutex_);
      posted_.wait_for(lock, kPatience, [&] { return ran_ + tasks_.size() >= count; });
      tasks.swap(tasks_);
      ran_ += tasks.size();
    }
    for (auto& task : tasks) task();
    return tasks.size();
  }

 private:
  std::mutex mutex_;
  std::condition_variable posted_;
  std::vector<std::function<void()>> tasks_;
  size_t ran_ = 0;
};

// Counts renames and messages written into blanks; each folder flush waits
// until the test opens it.
class GatedFiles : public fake::FailingFiles {
 public:
  int WriteDurable(const std::string& path, std::string_view bytes) override {
    if (IsBlankFileName(FileNameOf(path))) Count(blanks_filled);
    return FailingFiles::WriteDurable(path, bytes);
  }
  int RenameNew(const std::string& from, const std::string& to) override {
    int err = FailingFiles::RenameNew(from, to);
    Count(renames);
    return err;
  }
  int SyncFolder(const std::string& folder) override {
    {
      std::unique_lock lock(mutex_);
      int mine = ++flushes;
      changed_.notify_all();
      changed_.wait_for(lock, kPatience, [&] { return opened >= mine; });
    }
    return FailingFiles::SyncFolder(folder);
  }
  void OpenOneFlush() { Count(opened); }
  // Waits until `counter` (one of the counts below) reaches `value`.
  bool WaitFor(const int& counter, int value) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kPatience, [&] { return counter >= value; });
  }
  int blanks_filled = 0;
  int renames = 0;
  int flushes = 0;
  int opened = 0;

 private:
  void Count(int& counter) {
    std::lock_guard lock(mutex_);
    ++counter;
    changed_.notify_all();
  }
  std::mutex mutex_;
  std::condition_variable changed_;
};

std::vector<SpoolFile> OneFileJob(const std::string& name) {
  return {{SpoolPath(kOutBox, name), "message " + name}};
}

// A flush that began before a file's rename does not make that file's
// folder entry durable: the files renamed while it runs wait for the next
// one, which they then share. The first job makes the blanks (before its
// flush, which covers them) that the next ones are written into.
TEST(SpoolCommitter, RenamedFilesWaitForAFlushStartedAfterTheirRenameAndShareIt) {
  TestEnvironment t;
  t.ResetSpoolFolders();
  GatedFiles files;
  ThreadSafeLoop loop;
  std::vector<std::string> done;
  auto record = [&done](const std::string& name) {
    return [&done, name](const std::string& error) { done.push_back(name + ":" + error); };
  };
  ThreadedSpoolCommitter committer(files, loop, 4);
  committer.Commit(OneFileJob("A"), record("A"));
  ASSERT_TRUE(files.WaitFor(files.flushes, 1));
  for (const char* name : {"B", "C", "D"}) committer.Commit(OneFileJob(name), record(name));
  ASSERT_TRUE(files.WaitFor(files.renames, 4));
  files.OpenOneFlush();
  ASSERT_TRUE(files.WaitFor(files.flushes, 2));
  EXPECT_EQ(1u, loop.RunWhenPosted(1));
  EXPECT_EQ(std::vector<std::string>{"A:"}, done);
  files.OpenOneFlush();
  EXPECT_EQ(3u, loop.RunWhenPosted(4));
  std::sort(done.begin(), done.end());
  EXPECT_EQ((std::vector<std::string>{"A:", "B:", "C:", "D:"}), done);
  EXPECT_EQ(2, files.flushes);
  EXPECT_EQ(3, files.blanks_filled);
  std::vector<std::string> messages = t.FolderFiles(kOutBox);
  std::erase_if(messages, [](const std::string& name) { return !IsSpoolFileName(name); });
  EXPECT_EQ((std::vector<std::string>{"A", "B", "C", "D"}), messages);
}

// A failed job leaves none of its files and no staging copy, and says why;
// either committer.
TEST(SpoolCommitter, FailedJobLeavesNothingAndSaysWhy) {
  const struct {
    const char* operation;
    const char* path_part;
    int error;
    const char* said;
  } cases[] = {
      {"WriteDurable", "B-1", ENOSPC, "Cannot write "},  // its first file is staged already
      {"Rename", "B-1", EACCES, "Cannot rename into "},  // its first file is in place already
      {"SyncFolder", "OutBox", EIO, "Cannot flush folder "},
  };
  for (const auto& c : cases) {
    for (bool threaded : {false, true}) {
      SCOPED_TRACE(std::string(c.operation) + (threaded ? " threaded" : " inline"));
      TestEnvironment t;
      t.ResetSpoolFolders();
      t.files.Fail(c.operation, c.path_part, c.error);
      ThreadSafeLoop loop;
      std::vector<std::string> errors;
      {
        std::unique_ptr<SpoolCommitter> committer;
        if (threaded) committer = std::make_unique<ThreadedSpoolCommitter>(t.files, loop);
        else committer = std::make_unique<InlineSpoolCommitter>(t.files, loop);
        std::vector<SpoolFile> job = OneFileJob("B-0");
        job.push_back(OneFileJob("B-1")[0]);
        committer->Commit(job, [&errors](const std::string& error) { errors.push_back(error); });
      }
      ASSERT_EQ(1u, loop.RunWhenPosted(1));
      EXPECT_EQ(0u, errors[0].find(c.said)) << errors[0];
      EXPECT_NE(std::string::npos, errors[0].find(std::generic_category().message(c.error))) << errors[0];
      EXPECT_EQ(std::vector<std::string>{}, t.FolderFiles(kOutBox));
    }
  }
}

// Ending the program waits for the messages already handed over: each is on
// disk and its outcome posted once the committer is gone, and so are the
// blanks no message took.
TEST(SpoolCommitter, EndingWaitsForEveryJobHandedOver) {
  TestEnvironment t;
  t.ResetSpoolFolders();
  ThreadSafeLoop loop;
  std::vector<std::string> errors;
  std::vector<std::string> names;
  {
    ThreadedSpoolCommitter committer(t.files, loop, 3);
    for (int i = 0; i < 40; ++i) {
      names.push_back("M" + std::to_string(100 + i));
      committer.Commit(OneFileJob(names.back()), [&errors](const std::string& error) { errors.push_back(error); });
    }
  }
  EXPECT_EQ(40u, loop.RunWhenPosted(0));  // all posted already: no wait
  EXPECT_EQ(std::vector<std::string>(40), errors);
  EXPECT_EQ(names, t.FolderFiles(kOutBox));
}

}  // namespace
}  // namespace dorvane
