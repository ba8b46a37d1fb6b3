// The delivery side as the running program holds it: the client session as
// the handler of the form's SmtpDistant array, and the timer that enforces
// the sessions' time limits. The queue timers' ticks and the flush command
// are wired by main() to the functions of queue_scan.h.
#pragma once

#include <QTimer>

#include "delivery/client_session.h"

namespace dorvane {

class Form;

class DeliveryService {
 public:
  // Handles the SmtpDistant events of `form` from now on and starts
  // checking the session limits every few seconds.
  explicit DeliveryService(Form& form);
  // Detaches the handler from the form.
  ~DeliveryService();
  DeliveryService(const DeliveryService&) = delete;
  DeliveryService& operator=(const DeliveryService&) = delete;

 private:
  Form& form_;
  ClientSession session_;
  QTimer limits_;
};

}  // namespace dorvane
