#include "shell/connection_grid.h"

namespace dorvane {
namespace {

std::string SlotKey(const std::string& type, int slot) { return std::to_string(slot) + " " + type; }

std::string InboundStage(int status, int rcpt_count) {
  switch (status) {
    case 5: return "HELO";
    case 6: return rcpt_count > 0 ? "RCPT TO" : "MAIL FROM";
    case 8: return "DATA";
    case 12: return "QUIT";
    default: return "";
  }
}

std::string OutboundStage(int status) {
  switch (status) {
    case 4: return "HELO";
    case 5: return "MAIL FROM";
    case 6: return "RCPT TO";
    case 7:
    case 9: return "DATA";
    case 12: return "QUIT";
    case 13: return "EHLO";
    case 14: return "STARTTLS";
    case 15: return "TLS";
    case 16:
    case 17:
    case 18: return "AUTH";
    default: return "";
  }
}

// The sender and recipient columns change only in the states that name
// them; later states keep what was shown.
void FillAddresses(const std::string& type, const SlotState& state, RowCells& cells) {
  bool inbound = type == "IN";
  bool sender_stage = inbound ? state.status == 6 : state.status == 5;
  bool rcpt_stage = state.status == 6;
  if (sender_stage) cells[4] = state.from;
  if (rcpt_stage && state.rcpt_count > 0)
    cells[5] = state.last_rcpt + ": " + std::to_string(state.rcpt_count);
}

}  // namespace

const RowCells& GridHeaders() {
  static const RowCells headers = {"Connexion", "ID", "Client / Serveur", "Command", "From", "To"};
  return headers;
}

std::string StageText(const std::string& type, int status, int rcpt_count) {
  return type == "IN" ? InboundStage(status, rcpt_count) : OutboundStage(status);
}

ConnectionGrid::ConnectionGrid(int rows) : rows_(rows > 0 ? rows : 1), owner_(rows_.size()) {}

int ConnectionGrid::RowOf(const std::string& type, int slot) const {
  auto it = row_of_.find(SlotKey(type, slot));
  return it == row_of_.end() ? -1 : it->second;
}

int ConnectionGrid::TakeRow(const std::string& key) {
  for (size_t row = 0; row < owner_.size(); ++row) {
    if (!owner_[row].empty()) continue;
    owner_[row] = key;
    return row_of_[key] = static_cast<int>(row);
  }
  rows_.emplace_back();
  owner_.push_back(key);
  return row_of_[key] = static_cast<int>(rows_.size() - 1);
}

int ConnectionGrid::Refresh(const std::string& type, int slot, const SlotState& state) {
  std::string key = SlotKey(type, slot);
  int row = RowOf(type, slot);
  if (state.status == 0) {
    if (row < 0) return -1;
    rows_[row] = RowCells{};
    owner_[row].clear();
    row_of_.erase(key);
    return row;
  }
  if (row < 0) row = TakeRow(key);
  RowCells& cells = rows_[row];
  cells[0] = key;
  cells[2] = state.srv_client;
  cells[3] = StageText(type, state.status, state.rcpt_count);
  FillAddresses(type, state, cells);
  return row;
}

}  // namespace dorvane
