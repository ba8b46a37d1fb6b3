// CDns: the route (list of mail exchangers) of one outbound slot.
// Placeholder until MX resolution lands: holds nothing.
#pragma once

namespace dorvane {

class CDns {
 public:
  // Empties the route.
  void ClearMx() {}
};

}  // namespace dorvane
