#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>

#include <gtest/gtest.h>

#include "base/runtime_error.h"
#include "spool/domain_split.h"
#include "spool/message.h"
#include "spool/random_file.h"
#include "spool/spool_file.h"
#include "spool/tests/temp_home.h"

namespace dorvane {
namespace {

using testing_support::TempHome;

TEST(SpoolNames, RandomNamesAreTwoUpperHexNumbersBelowEFFFF) {
  std::set<std::string> seen;
  for (int i = 0; i < 2000; ++i) {
    std::string name = RandomFileGet();
    ASSERT_GE(name.size(), 2u);
    ASSERT_LE(name.size(), 10u);
    EXPECT_EQ(std::string::npos, name.find_first_not_of("0123456789ABCDEF")) << name;
    seen.insert(name);
  }
  EXPECT_GT(seen.size(), 1990u);  // not reseeded into repeats
}

TEST(SpoolNames, FreshNameNeverNamesAnExistingSpoolFile) {
  TempHome home;
  // The generator's next draws, replayed after a reseed, are taken in
  // different folders: each must be skipped.
  SeedRandomFileGet(42);
  std::vector<std::string> next;
  for (int i = 0; i < 3; ++i) next.push_back(RandomFileGet());
  std::ofstream(SpoolPath(kOutBox, next[0])) << "x";
  std::ofstream(SpoolPath(kDeferred, next[1])) << "x";
  std::ofstream(StagingPath(SpoolPath(kOutBox, next[2]))) << "x";
  SeedRandomFileGet(42);
  std::string fresh = FreshSpoolName();
  for (const auto& taken : next) EXPECT_NE(taken, fresh);
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

TEST(Domains, SplitGroupsRecipientsByFirstAppearance) {
  TempHome home;
  CMessage m;
  m.From = "<me@here.fr>";
  m.AddRcptTo("<a@one.fr>");
  m.AddRcptTo("<b@two.fr>");
  m.AddRcptTo("<c@one.fr>");
  m.Data = "text\r\n";
  m.TxtEng = SpoolWarningEnglish();
  m.Essai = 2;

  std::vector<std::string> ids = WriteSplitByDomain(m);
  ASSERT_EQ(2u, ids.size());
  EXPECT_EQ("-0", ids[0].substr(ids[0].size() - 2));
  EXPECT_EQ("-1", ids[1].substr(ids[1].size() - 2));
  std::vector<std::string> files = home.Files("OutBox");
  EXPECT_EQ(2u, files.size());

  std::vector<std::vector<std::string>> want = {{"", "<a@one.fr>", "<c@one.fr>"},
                                                {"", "<b@two.fr>"}};
  for (size_t g = 0; g < 2; ++g) {
    CMessage part;
    part.MOpen(SpoolPath(kOutBox, ids[g]));
    EXPECT_EQ(ids[g], part.ID);
    EXPECT_EQ(want[g], part.RcptToList());
    EXPECT_EQ("<me@here.fr>", part.From);
    EXPECT_EQ("text\r\n", part.Data);
    EXPECT_EQ(2, part.Essai);
    EXPECT_EQ(SpoolWarningEnglish(), part.TxtEng);
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

}  // namespace
}  // namespace dorvane

namespace dorvane {
namespace {

TEST(SpoolStaging, StaleStagingFilesGoButMessagesAndOtherFilesStay) {
  testing_support::TempHome home;
  const std::vector<std::string> stale = {StagingPath(SpoolPath(kOutBox, "A1")),
                                          StagingPath(SpoolPath(kDeferred, "B2-0")),
                                          StagingPath(SpoolPath(kError, "C3"))};
  const std::vector<std::string> kept = {SpoolPath(kOutBox, "A1"), SpoolPath(kOutBox, ".hidden")};
  for (const auto& p : stale) std::ofstream(p) << "half";
  for (const auto& p : kept) std::ofstream(p) << "whole";
  std::vector<std::string> removed = RemoveStaleStagingFiles();
  std::sort(removed.begin(), removed.end());
  std::vector<std::string> expected = stale;
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(expected, removed);
  for (const auto& p : kept) EXPECT_TRUE(std::filesystem::exists(p)) << p;
}

}  // namespace
}  // namespace dorvane
