#include "shell/connection_grid.h"

#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QTableWidget>
#include <QWindow>

#include "gui_support.h"
#include "qt/tests/event_loop_support.h"
#include "shell/connections_view.h"
#include "shell/main_window.h"

namespace dorvane {
namespace {

struct Step {
  SlotState state;
  RowCells row;  // the whole row afterwards
};

// A slot's state; the fields a step does not name stay empty.
SlotState Slot(int status, std::string peer = "", std::string from = "", std::string rcpt = "", int count = 0) {
  return SlotState{status, std::move(peer), std::move(from), std::move(rcpt), count};
}

// Drives one slot through `steps` and checks the full row after each.
void ExpectRows(const std::string& type, const std::vector<Step>& steps) {
  ConnectionGrid grid(4);
  for (size_t i = 0; i < steps.size(); ++i) {
    int row = grid.Refresh(type, 3, steps[i].state);
    ASSERT_EQ(row, 0) << "step " << i;
    EXPECT_EQ(grid.Row(row), steps[i].row) << "step " << i;
  }
}

TEST(ConnectionGridTest, InboundDialogueShowsEachStageAndKeepsAddresses) {
  const std::string c = "127.0.0.1", f = "<a@x.org>";
  ExpectRows("IN", {
      {Slot(4, c), {"3 IN", "", c, "", "", ""}},
      {Slot(5, c), {"3 IN", "", c, "HELO", "", ""}},
      {Slot(6, c, f), {"3 IN", "", c, "MAIL FROM", f, ""}},
      {Slot(6, c, f, "<b@y.org>", 1), {"3 IN", "", c, "RCPT TO", f, "<b@y.org>: 1"}},
      {Slot(6, c, f, "<d@z.org>", 2), {"3 IN", "", c, "RCPT TO", f, "<d@z.org>: 2"}},
      {Slot(8, c, f, "<d@z.org>", 2), {"3 IN", "", c, "DATA", f, "<d@z.org>: 2"}},
      {Slot(10, c, f, "<d@z.org>", 2), {"3 IN", "", c, "", f, "<d@z.org>: 2"}},
      {Slot(12, c), {"3 IN", "", c, "QUIT", f, "<d@z.org>: 2"}},
  });
}

TEST(ConnectionGridTest, OutboundStagesFollowTheClientStates) {
  const std::string s = "mx.y.org", f = "<a@x.org>";
  ExpectRows("OUT", {
      {Slot(4, s, f), {"3 OUT", "", s, "HELO", "", ""}},
      {Slot(5, s, f), {"3 OUT", "", s, "MAIL FROM", f, ""}},
      {Slot(6, s, f, "<b@y.org>", 1), {"3 OUT", "", s, "RCPT TO", f, "<b@y.org>: 1"}},
      {Slot(7, s, f, "<b@y.org>", 1), {"3 OUT", "", s, "DATA", f, "<b@y.org>: 1"}},
      {Slot(8, s), {"3 OUT", "", s, "", f, "<b@y.org>: 1"}},
      {Slot(9, s), {"3 OUT", "", s, "DATA", f, "<b@y.org>: 1"}},
      {Slot(12, s), {"3 OUT", "", s, "QUIT", f, "<b@y.org>: 1"}},
      {Slot(13, s), {"3 OUT", "", s, "EHLO", f, "<b@y.org>: 1"}},
      {Slot(14, s), {"3 OUT", "", s, "STARTTLS", f, "<b@y.org>: 1"}},
      {Slot(15, s), {"3 OUT", "", s, "TLS", f, "<b@y.org>: 1"}},
      {Slot(18, s), {"3 OUT", "", s, "AUTH", f, "<b@y.org>: 1"}},
  });
}

TEST(ConnectionGridTest, ReleasedRowIsEmptiedAndTakenAgainFromTheTop) {
  ConnectionGrid grid(4);
  EXPECT_EQ(grid.Refresh("IN", 1, Slot(5, "a")), 0);
  EXPECT_EQ(grid.Refresh("IN", 2, Slot(5, "b")), 1);
  EXPECT_EQ(grid.Refresh("IN", 1, Slot(0)), 0);
  EXPECT_EQ(grid.Row(0), RowCells{});
  EXPECT_EQ(grid.RowOf("IN", 1), -1);
  EXPECT_EQ(grid.Refresh("IN", 7, Slot(5, "c")), 0);
  EXPECT_EQ(grid.Row(0)[0], "7 IN");
  EXPECT_EQ(grid.Row(1)[0], "2 IN");
}

TEST(ConnectionGridTest, InboundAndOutboundSlotOfTheSameNumberHaveTheirOwnRows) {
  ConnectionGrid grid(4);
  EXPECT_EQ(grid.Refresh("IN", 1, Slot(5, "client")), 0);
  EXPECT_EQ(grid.Refresh("OUT", 1, Slot(4, "server")), 1);
  grid.Refresh("OUT", 1, Slot(0));
  EXPECT_EQ(grid.Row(0)[2], "client");
  EXPECT_EQ(grid.RowOf("IN", 1), 0);
}

TEST(ConnectionGridTest, RowsAreAddedWhenEveryRowIsTaken) {
  ConnectionGrid grid(2);
  grid.Refresh("IN", 1, Slot(5));
  grid.Refresh("IN", 2, Slot(5));
  EXPECT_EQ(grid.Refresh("IN", 3, Slot(5)), 2);
  EXPECT_EQ(grid.RowCount(), 3);
}

TEST(ConnectionGridTest, ReleaseOfASlotWithoutRowTouchesNoRow) {
  ConnectionGrid grid(2);
  grid.Refresh("IN", 1, Slot(5, "a"));
  EXPECT_EQ(grid.Refresh("IN", 2, Slot(0)), -1);
  EXPECT_EQ(grid.Refresh("OUT", 1, Slot(0)), -1);
  EXPECT_EQ(grid.Row(0)[0], "1 IN");
}

TEST(ConnectionGridTest, EveryColumnIsReadableAtTheWindowsDefaultSize) {
  test::EnsureGuiApp();
  MainWindow window;
  QTableWidget& table = window.ActiveCnx();
  ConnectionsView view(table);
  view.Refresh("IN", 99, Slot(6, "203.0.113.254", "<claire.dupont@exemple-mail.fr>", "<service.clients@exemple.org>", 12));
  window.show();
  ASSERT_TRUE(test::PumpUntil([&] { return window.windowHandle() && window.windowHandle()->isExposed(); }));
  EXPECT_EQ(window.size(), kMainWindowSize);
  QFont bold = table.font();
  bold.setBold(true);
  for (int column = 0; column < kGridColumns; ++column) {
    int needed = std::max(QFontMetrics(bold).horizontalAdvance(table.horizontalHeaderItem(column)->text()),
                          table.fontMetrics().horizontalAdvance(table.item(0, column)->text()));
    EXPECT_GE(table.columnWidth(column), needed) << "column " << column << ": "
                                                 << table.item(0, column)->text().toStdString();
  }
}

}  // namespace
}  // namespace dorvane
