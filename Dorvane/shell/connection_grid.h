// The texts of the active-connections grid, kept apart from any widget: one
// row per open connection, rows handed out from the top, a released row
// emptied and reused. An inbound and an outbound slot of the same number
// get rows of their own. When every row is taken one more is added.
#pragma once

#include <array>
#include <map>
#include <string>
#include <vector>

namespace dorvane {

// What the grid shows of one connection slot.
struct SlotState {
  int status = 0;          // 0: the slot was released
  std::string srv_client;  // the peer
  std::string from;        // the message's sender
  std::string last_rcpt;   // the last recipient so far
  int rcpt_count = 0;
};

constexpr int kGridColumns = 6;
using RowCells = std::array<std::string, kGridColumns>;

// "Connexion", "ID", "Client / Serveur", "Command", "From", "To".
const RowCells& GridHeaders();

// The stage shown in the "Command" column for `status` of a slot of
// `type` ("IN" or "OUT"); empty for a state without a stage name.
std::string StageText(const std::string& type, int status, int rcpt_count);

class ConnectionGrid {
 public:
  // A grid of `rows` data rows, all free.
  explicit ConnectionGrid(int rows);

  // Brings the row of slot `slot` of `type` up to date with `state` and
  // returns its index (0 = first data row). A busy slot without a row takes
  // the first free one; a released slot's row is emptied and freed. Returns
  // -1 when a released slot had no row (nothing to show).
  int Refresh(const std::string& type, int slot, const SlotState& state);

  int RowCount() const { return static_cast<int>(rows_.size()); }
  const RowCells& Row(int row) const { return rows_.at(row); }
  // The row held by slot `slot` of `type`, -1 when none.
  int RowOf(const std::string& type, int slot) const;

 private:
  int TakeRow(const std::string& key);

  std::vector<RowCells> rows_;
  std::vector<std::string> owner_;     // row -> slot key; "" = free
  std::map<std::string, int> row_of_;  // slot key -> row
};

}  // namespace dorvane
