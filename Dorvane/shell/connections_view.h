// The grid ActiveCnx on screen: mirrors a ConnectionGrid into a
// QTableWidget, and reads a slot's state from the slot pools.
#pragma once

#include <string>

#include "shell/connection_grid.h"

class QTableWidget;

namespace dorvane {

class SlotPools;

// Data rows the grid shows before any are added on demand.
constexpr int kInitialGridRows = 8;

class ConnectionsView {
 public:
  // `table` (not owned) gets its six columns and bold, centred headers
  // (the built-in ones; a language file may rename them). The short columns
  // are as wide as their usual texts; From and To share the rest, so that
  // addresses stay readable.
  explicit ConnectionsView(QTableWidget& table);

  // Shows slot `slot` of `type` ("IN" or "OUT") as `state` says.
  void Refresh(const std::string& type, int slot, const SlotState& state);

  const ConnectionGrid& Grid() const { return grid_; }

 private:
  QTableWidget& table_;
  ConnectionGrid grid_{kInitialGridRows};
};

// What the grid shows of inbound slot `slot` ("IN") or outbound slot
// `slot` ("OUT") of `pools`.
SlotState ReadSlot(SlotPools& pools, const std::string& type, int slot);

}  // namespace dorvane
