#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <set>

#include "base/clock.h"
#include "base/runtime_error.h"
#include "spool/domain_split.h"
#include "spool/message.h"
#include "spool/random_file.h"
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

// The parts of one message appear together or not at all.
TEST(Domains, SplitThatFailsOnItsLastPartLeavesNoPart) {
  TestEnvironment t;
  t.ResetSpoolFolders();
  t.files.Fail("Rename", "-1", EIO);
  EXPECT_THROW(WriteSplitByDomain(t.files, t.logs, t.clock, ThreeRecipientsInTwoDomains()), RuntimeError);
  EXPECT_EQ(t.FolderFiles("OutBox"), std::vector<std::string>{});
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
  std::vector<std::string> removed = RemoveStaleStagingFiles(t.files);
  std::sort(removed.begin(), removed.end());
  std::vector<std::string> expected = stale;
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(expected, removed);
  for (const auto& p : kept) EXPECT_TRUE(std::filesystem::exists(p)) << p;
}

}  // namespace
}  // namespace dorvane
