#include "shell/connections_view.h"

#include <QHeaderView>
#include <QTableWidget>
#include <algorithm>

#include "relay/connexion.h"
#include "spool/message.h"

namespace dorvane {
namespace {

// The widest usual text of each short column (the slot, the empty ID, an
// address, a stage).
constexpr const char* kColumnSamples[] = {"99 OUT", "", "255.255.255.255", "MAIL FROM"};
constexpr int kCellPadding = 16;

// The short columns keep the width of their header or usual text; From and
// To stretch.
void SizeColumns(QTableWidget& table) {
  QHeaderView& header = *table.horizontalHeader();
  QFont bold = table.font();
  bold.setBold(true);
  for (int column = 0; column < kGridColumns; ++column) {
    if (column >= 4) {
      header.setSectionResizeMode(column, QHeaderView::Stretch);
      continue;
    }
    int text = std::max(QFontMetrics(bold).horizontalAdvance(QString::fromStdString(GridHeaders()[column])),
                        table.fontMetrics().horizontalAdvance(QString::fromUtf8(kColumnSamples[column])));
    header.setSectionResizeMode(column, QHeaderView::Interactive);
    header.resizeSection(column, text + kCellPadding);
  }
}

}  // namespace

ConnectionsView::ConnectionsView(QTableWidget& table) : table_(table) {
  table_.setColumnCount(kGridColumns);
  table_.setRowCount(grid_.RowCount());
  table_.setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_.setSelectionMode(QAbstractItemView::NoSelection);
  table_.setFocusPolicy(Qt::NoFocus);
  table_.setWordWrap(false);
  table_.verticalHeader()->setVisible(false);
  for (int column = 0; column < kGridColumns; ++column) {
    auto* header = new QTableWidgetItem(QString::fromStdString(GridHeaders()[column]));
    QFont bold = header->font();
    bold.setBold(true);
    header->setFont(bold);
    header->setTextAlignment(Qt::AlignCenter);
    table_.setHorizontalHeaderItem(column, header);
  }
  SizeColumns(table_);
}

void ConnectionsView::Refresh(const std::string& type, int slot, const SlotState& state) {
  int row = grid_.Refresh(type, slot, state);
  if (row < 0) return;
  if (table_.rowCount() < grid_.RowCount()) table_.setRowCount(grid_.RowCount());
  const RowCells& cells = grid_.Row(row);
  for (int column = 0; column < kGridColumns; ++column) {
    QString text = QString::fromStdString(cells[column]);
    if (QTableWidgetItem* item = table_.item(row, column)) item->setText(text);
    else table_.setItem(row, column, new QTableWidgetItem(text));
  }
}

SlotState ReadSlot(SlotPools& pools, const std::string& type, int slot) {
  CConnexion& cnx = type == "IN" ? pools.In(slot) : pools.Out(slot);
  SlotState state;
  state.status = cnx.Status();
  state.srv_client = cnx.SrvClient;
  if (state.status == 0) return state;
  const CMessage& message = cnx.Message();
  state.from = message.From;
  state.rcpt_count = message.MRcptToCount();
  if (state.rcpt_count > 0) state.last_rcpt = message.RcptTo(state.rcpt_count);
  return state;
}

}  // namespace dorvane
