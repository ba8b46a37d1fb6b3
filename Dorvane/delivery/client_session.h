// The client side of the SMTP dialogue on outbound slot i, driven by the
// events of element i of the SmtpDistant array: greeting, HELO, MAIL FROM,
// one RCPT TO per recipient, DATA, the body and QUIT. A table over the
// slot's state picks the one action for each reply. It talks to the
// network only through the SocketArray of the current form.
#pragma once

#include <string>

#include "base/socket_control.h"

namespace dorvane {

// The event handler of the SmtpDistant array.
class ClientSession : public SocketEvents {
 public:
  // Writes the connect line to the mail log; the slot waits for the greeting.
  void OnConnect(int index) override;
  // Reads everything received and runs one row of the state table.
  // Guarded ("FRM:MAIN[SmtpDistant_DataArrival]").
  void OnDataArrival(int index, long bytes) override;
  // The body has been handed over completely: only now is the final reply
  // accepted.
  void OnSendComplete(int index) override;
  // A peer that closes a live session is a failure (10053).
  void OnClose(int index) override;
  // Failure decisions (SmtpDistant_Error).
  void OnError(int index, int number, const std::string& description) override;
};

// One row of the state table for slot i with the received text `reply`.
void SmtpDistant_DataArrival(int i, const std::string& reply);

// Sends "QUIT" on slot i (announced in the debug log), yields, closes the
// element and drops what it received and did not act on. The reply to QUIT
// is not awaited.
void SendQuitAndClose(int i);

}  // namespace dorvane
