#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "delivery/bounce.h"
#include "delivery/delay_notice.h"
#include "spool/message.h"
#include "spool/spool_file.h"
#include "log/logs.h"
#include "tests/support/test_environment.h"

namespace dorvane {
namespace {

using Names = std::vector<std::string>;

// A failed message written to OutBox (and, when `deferred`, to Deferred).
CMessage Queue(TestEnvironment& test, const std::string& name, bool deferred = false) {
  CMessage m;
  m.ID = name;
  m.From = "<alice@home.test>";
  m.AddRcptTo("<bob@far.test>");
  m.AddRcptTo("<carol@far.test>");
  m.Essai = 3;
  m.LastError = "10061: Connection refused";
  m.Data = "Subject: hi\r\n\r\nbody\r\n";
  test.WriteMessage(m, kOutBox, name);
  if (deferred) test.WriteMessage(m, kDeferred, name);
  return m;
}

// Fields every notice shares: addressed to the sender alone, a fresh
// attempt count, marked as a notice, the failed message returned whole.
void ExpectNoticeFor(const CMessage& notice, const CMessage& failed, const std::string& subject) {
  EXPECT_EQ(notice.RcptToList(), (Names{"", failed.From}));
  EXPECT_EQ(notice.From, failed.From);
  EXPECT_EQ(notice.Essai, 0);
  EXPECT_TRUE(notice.ForSender);
  EXPECT_EQ(notice.LastError, failed.LastError);
  EXPECT_NE(notice.Data.find("\r\nSubject: " + subject + "\r\n"), std::string::npos) << notice.Data;
  EXPECT_NE(notice.Data.find("\r\nFinal-Recipient: rfc822; <carol@far.test>\r\n"), std::string::npos);
  EXPECT_NE(notice.Data.find("\r\n\r\n" + failed.Data + "\r\n--B36A337F60"), std::string::npos);
}

TEST(GenerateError, ReplacesTheMessageByItsBounceUnderTheSameName) {
  TestEnvironment test;
  test.ResetSpoolFolders();
  CMessage failed = Queue(test, "A1B2C3");
  GenerateError(test.env, "A1B2C3");
  EXPECT_EQ(test.FolderFiles("OutBox"), Names{"A1B2C3"});
  CMessage bounce = test.ReadMessage(kOutBox, "A1B2C3");
  EXPECT_EQ(bounce.ID, "A1B2C3");
  ExpectNoticeFor(bounce, failed, "Undelivered Mail Returned to Sender");
}

TEST(GenerateDeferred, QueuesTheNoticeUnderANewNameAndLeavesTheMessageDeferred) {
  TestEnvironment test;
  test.ResetSpoolFolders();
  CMessage delayed = Queue(test, "D4E5F6", true);
  GenerateDeferred(test.env, "D4E5F6");
  EXPECT_EQ(test.FolderFiles("Deferred"), Names{"D4E5F6"});
  Names outbox = test.FolderFiles("OutBox");
  ASSERT_EQ(outbox.size(), 1u);
  EXPECT_NE(outbox[0], "D4E5F6");
  CMessage notice = test.ReadMessage(kOutBox, outbox[0]);
  EXPECT_EQ(notice.ID, outbox[0]);
  ExpectNoticeFor(notice, delayed, "Delivery Status Notification (Mail Delivery Delayed)");
  EXPECT_NE(notice.Data.find("\r\nIt was the 3 attempt !\r\n"), std::string::npos);
  EXPECT_EQ(test.ReadMessage(kDeferred, "D4E5F6").Essai, 3);
}

TEST(Generators, MissingMessageIsAFatalError) {
  TestEnvironment test;
  test.ResetSpoolFolders();
  EXPECT_THROW(GenerateError(test.env, "NOPE"), ProgramEnded);
  EXPECT_THROW(GenerateDeferred(test.env, "NOPE"), ProgramEnded);
  EXPECT_TRUE(test.FolderFiles("OutBox").empty());
}

}  // namespace
}  // namespace dorvane
