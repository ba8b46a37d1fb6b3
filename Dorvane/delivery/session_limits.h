// Time limits of the outbound sessions. A connect that takes more than 60
// seconds, or a session that waits more than 5 minutes for a reply (an
// exchanger that accepts and never speaks) or for its QUIT to leave, would
// otherwise keep its slot and its file for ever; such a session is failed
// as a time-out.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>

#include "relay/connexion.h"

namespace dorvane {

class Clock;

constexpr int64_t kConnectLimitSeconds = 60;
constexpr int64_t kReplyLimitSeconds = 5 * 60;

// One limit per outbound slot, read on the steady clock.
class SessionLimits {
 public:
  explicit SessionLimits(Clock& clock) : clock_(clock) {}

  // Slot i has asked for a connection: the connect limit starts.
  void StartConnect(int i) { Start(i, kConnectLimitSeconds); }
  // Slot i is connected or has sent something: the reply limit starts again.
  void StartReply(int i) { Start(i, kReplyLimitSeconds); }
  // Whether slot i's limit has passed now (strictly); a passed limit is
  // cleared, so it is reported once.
  bool TakePassed(int i);

 private:
  struct Limit {
    std::chrono::steady_clock::time_point deadline;
    bool set = false;
  };
  void Start(int i, int64_t seconds);

  Clock& clock_;
  std::array<Limit, kLastSlot + 1> limits_{};
};

}  // namespace dorvane
