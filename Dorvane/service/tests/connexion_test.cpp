#include <gtest/gtest.h>

#include "relay/connexion.h"
#include "tests/support/fake_form.h"
#include "spool/message.h"
#include "spool/tests/temp_home.h"

namespace dorvane {
namespace {

using fake::ScopedFakeForm;

void Busy(std::initializer_list<int> slots) {
  for (int i : slots) {
    CnxIn(i).CnxType = "IN";
    CnxIn(i).Connexion = static_cast<uint8_t>(i);
    CnxIn(i).SetStatus(4);
  }
}

TEST(Slots, SearchStartsAtTheCursorAndSkipsBusySlots) {
  testing_support::TempHome home;
  ScopedFakeForm form;
  Busy({1, 2, 3});
  GlobalSlots().last_in = 2;
  EXPECT_EQ(4, FindFreeInSlot());
  EXPECT_EQ(4, GlobalSlots().last_in);
  Busy({4});
  EXPECT_EQ(5, FindFreeInSlot());
}

TEST(Slots, SearchWrapsFrom99To1) {
  testing_support::TempHome home;
  ScopedFakeForm form;
  Busy({99});
  GlobalSlots().last_in = 99;
  EXPECT_EQ(1, FindFreeInSlot());
  EXPECT_EQ(1, GlobalSlots().last_in);
}

TEST(Slots, AllBusyGivesZeroAndKeepsTheCursor) {
  testing_support::TempHome home;
  ScopedFakeForm form;
  for (int i = kFirstSlot; i <= kLastSlot; ++i) Busy({i});
  GlobalSlots().last_in = 50;
  EXPECT_EQ(0, FindFreeInSlot());
  EXPECT_EQ(50, GlobalSlots().last_in);
  EXPECT_EQ(1, FindFreeOutSlot());  // the other pool is independent
}

TEST(Slots, StatusWriteRefreshesTheRowOnlyWhenNonZero) {
  testing_support::TempHome home;
  ScopedFakeForm form;
  Busy({7});
  CnxIn(7).SetStatus(0);
  using Row = std::pair<std::string, int>;
  EXPECT_EQ((std::vector<Row>{{"IN", 7}}), form->shell.refreshes);
}

TEST(Slots, ReleaseLocalFreesTheSlotAndItsSocket) {
  testing_support::TempHome home;
  ScopedFakeForm form;
  Busy({5});
  form->smtp.Load(5);
  CnxIn(5).SmtpCommand = "HEL";
  CnxIn(5).Message().From = "<a@b.c>";
  CnxIn(5).Message().ID = "KEEP";
  ReleaseSmtpLocal(5);
  EXPECT_EQ(0, CnxIn(5).Status());
  EXPECT_EQ("", CnxIn(5).SmtpCommand);
  EXPECT_EQ("", CnxIn(5).Message().From);
  EXPECT_EQ("KEEP", CnxIn(5).Message().ID);
  EXPECT_FALSE(form->smtp.Exists(5));
  EXPECT_EQ(std::make_pair(std::string("IN"), 5), form->shell.refreshes.back());
  // The slot is reusable and its element can be loaded again.
  GlobalSlots().last_in = 5;
  EXPECT_EQ(5, FindFreeInSlot());
  form->smtp.Load(5);
  EXPECT_EQ(2, form->smtp.LoadCount(5));
}

TEST(ReplyParsing, CommandWordAndReplyCode) {
  struct {
    const char* line;
    const char* word;
  } words[] = {
      {"helo host.example\r\n", "HELO"}, {"NOOP\r\n", "NOOP"}, {"QUIT\r\n", "QUIT"},
      {"mail FROM:<a@b.c>\r\n", "MAIL"}, {"", ""},          {"rset\r\nnoop\r\n", "RSET"},
  };
  for (const auto& w : words) EXPECT_EQ(w.word, GetResponse(w.line)) << w.line;
  EXPECT_EQ("250", GetResponseCode("250-first line\r\n250 last\r\n"));
  EXPECT_EQ("55", GetResponseCode("55"));
}

}  // namespace
}  // namespace dorvane
