// The delivery side as the running program holds it: the spool moves, the
// session limits, the failure decisions, the queue and the client session
// as the handler of the form's SmtpDistant array, and the timer that
// enforces the sessions' time limits. The queue timers' ticks and the flush
// command are wired by main() to queue().
#pragma once

#include <memory>

#include "delivery/client_session.h"
#include "delivery/delivery_failure.h"
#include "delivery/queue_scan.h"
#include "delivery/session_limits.h"
#include "delivery/spool_moves.h"

namespace dorvane {

class RepeatingTimer;
struct Environment;

class DeliveryService {
 public:
  // Handles the SmtpDistant events of env.form from now on and starts
  // checking the session limits every few seconds on env.loop.
  explicit DeliveryService(Environment& env);
  // Detaches the handler from the form.
  ~DeliveryService();
  DeliveryService(const DeliveryService&) = delete;
  DeliveryService& operator=(const DeliveryService&) = delete;

  QueueScan& queue() { return queue_; }
  ClientSession& session() { return session_; }

 private:
  Environment& env_;
  SpoolMoves moves_;
  SessionLimits limits_;
  DeliveryFailure failure_;
  QueueScan queue_;
  ClientSession session_;
  std::unique_ptr<RepeatingTimer> limit_timer_;
};

}  // namespace dorvane
