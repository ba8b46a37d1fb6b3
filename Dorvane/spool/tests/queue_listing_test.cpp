#include "spool/queue_listing.h"

#include <gtest/gtest.h>
#include <sys/time.h>

#include <cerrno>

#include "spool/message_format.h"
#include "spool/queue_format.h"
#include "spool/spool_file.h"
#include "tests/support/test_environment.h"

namespace dorvane {
namespace {

constexpr std::time_t kArrival = 1700000000;  // 2023-11-14T22:13:20Z

CMessage Message(const std::string& from, const std::vector<std::string>& rcpts, uint8_t essai = 0) {
  CMessage m;
  m.From = from;
  for (const std::string& r : rcpts) m.AddRcptTo(r);
  m.Essai = essai;
  m.Data = "Hi\r\n";
  return m;
}

class QueueListingTest : public ::testing::Test {
 protected:
  QueueListingTest() { t.ResetSpoolFolders(); }

  // Queues `m` as `folder`/`name`, arrived at kArrival; returns its size.
  size_t Put(const CMessage& m, const std::string& folder, const std::string& name) {
    t.WriteMessage(m, folder, name);
    Age(folder + "/" + name);
    return EncodeMessage(m).size();
  }
  void Age(const std::string& name) {
    const timeval times[2] = {{kArrival, 0}, {kArrival, 0}};
    ASSERT_EQ(0, ::utimes(t.program.Path(name).c_str(), times)) << name;
  }
  int Run(const std::string& command, const std::string& id, bool json = false) {
    out.clear(), error.clear();
    return RunQueueCommand(t.files, command, id, json, &out, &error);
  }

  TestEnvironment t;
  std::string out, error;
};

TEST_F(QueueListingTest, ListsEveryFolderWithDamagedFilesAndWithoutStagingFiles) {
  t.program.Write("Dorvane.ini", "AttemptDelay 10\r\n");
  size_t outbox = Put(Message("<a@b.c>", {"<d@e.fr>", "<f@g.fr>"}), "OutBox", "b1");
  size_t deferred = Put(Message("<>", {"<d@e.fr>"}, 3), "Deferred", "d1");
  t.program.Write("Error/e1", "junk");
  Age("Error/e1");
  t.program.Write("OutBox/.b2.tmp", "half");

  ASSERT_EQ(0, Run("queue", ""));
  EXPECT_EQ("b1\tOutBox\t" + std::to_string(outbox) + "\t2023-11-14T22:13:20Z\t<a@b.c>\t<d@e.fr>,<f@g.fr>\t0\t-\n" +
                "d1\tDeferred\t" + std::to_string(deferred) +
                "\t2023-11-14T22:13:20Z\t<>\t<d@e.fr>\t3\t2023-11-14T22:23:20Z\n" + "e1\tError\tdamaged\n",
            out);
  ASSERT_EQ(0, Run("queue", "", true));
  EXPECT_EQ("[{\"id\":\"b1\",\"folder\":\"OutBox\",\"damaged\":false,\"arrival\":\"2023-11-14T22:13:20Z\",\"size\":" +
                std::to_string(outbox) +
                ",\"sender\":\"<a@b.c>\",\"recipients\":[\"<d@e.fr>\",\"<f@g.fr>\"],\"attempts\":0,\"next_try\":null},\n"
                "{\"id\":\"d1\",\"folder\":\"Deferred\",\"damaged\":false,\"arrival\":\"2023-11-14T22:13:20Z\",\"size\":" +
                std::to_string(deferred) +
                ",\"sender\":\"<>\",\"recipients\":[\"<d@e.fr>\"],\"attempts\":3,"
                "\"next_try\":\"2023-11-14T22:23:20Z\"},\n"
                "{\"id\":\"e1\",\"folder\":\"Error\",\"damaged\":true,\"arrival\":\"2023-11-14T22:13:20Z\"}]\n",
            out);
}

TEST_F(QueueListingTest, HostileSenderIsEscapedInBothListings) {
  Put(Message("<a\"b\\c\r\n\x1b[31m\xff@x>", {"<d@e.fr>"}), "OutBox", "h1");
  ASSERT_EQ(0, Run("queue", "", true));
  EXPECT_NE(out.find("\"sender\":\"<a\\\"b\\\\c\\u000d\\u000a\\u001b[31m\\u00ff@x>\""), std::string::npos) << out;
  ASSERT_EQ(0, Run("queue", ""));
  EXPECT_NE(out.find("\t<a\"b\\x5cc\\x0d\\x0a\\x1b[31m\\xff@x>\t"), std::string::npos) << out;
}

TEST(QueueFormatTest, OnlyValidPrintableUtf8PassesUnescaped) {
  struct Case {
    std::string bytes, json, terminal;
  };
  const Case cases[] = {
      {"plain \xC3\xA9t\xC3\xA9 \xF0\x9F\x93\xA7", "\"plain \xC3\xA9t\xC3\xA9 \xF0\x9F\x93\xA7\"",
       "plain \xC3\xA9t\xC3\xA9 \xF0\x9F\x93\xA7"},
      {"tab\there", "\"tab\\u0009here\"", "tab\\x09here"},
      {"del\x7f c1\xC2\x9B", "\"del\\u007f c1\\u009b\"", "del\\x7f c1\\x9b"},
      {"overlong \xC0\xAF", "\"overlong \\u00c0\\u00af\"", "overlong \\xc0\\xaf"},
      {"surrogate \xED\xA0\x80", "\"surrogate \\u00ed\\u00a0\\u0080\"", "surrogate \\xed\\xa0\\x80"},
      {"cut \xE2\x82", "\"cut \\u00e2\\u0082\"", "cut \\xe2\\x82"},
      {std::string("nul\0", 4), "\"nul\\u0000\"", "nul\\x00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(c.json, JsonString(c.bytes));
    EXPECT_EQ(c.terminal, TerminalSafe(c.bytes));
  }
}

TEST_F(QueueListingTest, DeferralDelayComesFromTheSettingsFile) {
  const std::pair<const char*, int> cases[] = {
      {nullptr, 60}, {"AttemptDelay 10\r\n", 10}, {"AttemptDelay 600\r\n", 546}, {"AttemptDelay ten\r\n", 60}};
  for (const auto& [file, minutes] : cases) {
    SCOPED_TRACE(file ? file : "no file");
    if (file) t.program.Write("Dorvane.ini", file);
    EXPECT_EQ(minutes, QueueDeferralMinutes(t.files));
  }
}

TEST_F(QueueListingTest, RetryAndDeleteMoveOnlyAPlainQueuedId) {
  struct Case {
    const char* command;
    std::string id;
    const char* folder;  // where m1 is queued first
    int rc;
    std::vector<std::string> outbox, deferred, error;
    std::string message = "";
  };
  using V = std::vector<std::string>;
  const Case cases[] = {
      {"retry", "m1", "Deferred", 0, {"m1"}, {}, {}},
      {"retry", "m1", "Error", 0, {"m1"}, {}, {}},
      {"retry", "m1", "OutBox", 1, {"m1"}, {}, {}, "no message m1 in Deferred or Error\n"},
      {"retry", "m2", "Error", 1, {}, {}, {"m1"}, "no message m2 in Deferred or Error\n"},
      {"retry", "../Error/m1", "Error", 1, {}, {}, {"m1"}, "not a message ID: ../Error/m1\n"},
      {"retry", ".m1.tmp", "Error", 1, {}, {}, {"m1"}, "not a message ID: .m1.tmp\n"},
      {"retry", "", "Error", 1, {}, {}, {"m1"}, "not a message ID: \n"},
      {"delete", "m1", "OutBox", 0, {}, {}, {}},
      {"delete", "m1", "Deferred", 0, {}, {}, {}},
      {"delete", "m1", "Error", 0, {}, {}, {}},
      {"delete", "m2", "Deferred", 1, {}, V{"m1"}, {}, "no message m2 in the queue\n"},
      {"delete", "a/b", "Deferred", 1, {}, V{"m1"}, {}, "not a message ID: a/b\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.command) + " " + c.id + " from " + c.folder);
    t.ResetSpoolFolders();
    Put(Message("<a@b.c>", {"<d@e.fr>"}), c.folder, "m1");
    EXPECT_EQ(c.rc, Run(c.command, c.id));
    EXPECT_EQ(c.message, error);
    EXPECT_EQ(c.outbox, t.FolderFiles("OutBox"));
    EXPECT_EQ(c.deferred, t.FolderFiles("Deferred"));
    EXPECT_EQ(c.error, t.FolderFiles("Error"));
  }
}

TEST_F(QueueListingTest, FailedRenameOrRemoveLeavesTheMessageAndSaysWhy) {
  Put(Message("<a@b.c>", {"<d@e.fr>"}), "Deferred", "m1");
  t.files.Fail("Rename", "m1", EACCES);
  t.files.Fail("Remove", "m1", EROFS);
  EXPECT_EQ(1, Run("retry", "m1"));
  EXPECT_EQ("cannot move m1 to OutBox: Permission denied\n", error);
  EXPECT_EQ(1, Run("delete", "m1"));
  EXPECT_EQ("cannot delete m1: Read-only file system\n", error);
  EXPECT_EQ(std::vector<std::string>{"m1"}, t.FolderFiles("Deferred"));
}

}  // namespace
}  // namespace dorvane
