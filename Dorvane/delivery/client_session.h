// The client side of the SMTP dialogue on the outbound slots, as the
// handler of the form's SmtpDistant array: it assembles each slot's replies,
// feeds events to the dialogue (client_dialogue.h) and runs the actions it
// gives against the socket, the spool, the logs, the failure decisions and
// the queue.
#pragma once

#include <array>
#include <string>

#include "base/socket_control.h"
#include "delivery/client_dialogue.h"
#include "delivery/server_reply.h"
#include "relay/connexion.h"

namespace dorvane {

class DeliveryFailure;
class QueueScan;
class SessionLimits;
class SpoolMoves;
struct Environment;

class ClientSession : public SocketEvents {
 public:
  ClientSession(Environment& env, SpoolMoves& moves, DeliveryFailure& failure, SessionLimits& limits,
                QueueScan& queue);

  // Writes the connect line to the mail log; the slot waits for the
  // greeting (or starts TLS first). Guarded ("FRM:MAIN[SmtpDistant_Connect]").
  void OnConnect(int index) override;
  // TLS is up: nothing received before it is a reply.
  // Guarded ("FRM:MAIN[SmtpDistant_TlsReady]").
  void OnTlsReady(int index) override;
  // Reads everything received and runs one step per complete reply.
  // Guarded ("FRM:MAIN[SmtpDistant_DataArrival]").
  void OnDataArrival(int index, long bytes) override;
  // The body, or the QUIT, has been handed over completely.
  // Guarded ("FRM:MAIN[SmtpDistant_SendComplete]").
  void OnSendComplete(int index) override;
  // A peer that closes a live session is a failure (10053).
  // Guarded ("FRM:MAIN[SmtpDistant_Close]").
  void OnClose(int index) override;
  // Failure decisions; a session that sent QUIT ends.
  // Guarded ("FRM:MAIN[SmtpDistant_Error]").
  void OnError(int index, int number, const std::string& description) override;

  // Fails every live session (slot states 3 to 11) whose limit has passed
  // with error 10060 "Connection timed out.", and ends those whose QUIT did
  // not leave in time. Guarded ("FRM:MAIN[tmrSessionLimit_Timer]").
  void CheckLimits();

 private:
  // Feeds `event` to slot i's dialogue and runs what it asks.
  void Step(int i, const DialogueEvent& event);
  void Run(int i, const DialogueAction& action);
  DialogueState StateOf(int i);
  // How slot i's session is secured: the smarthost's settings, or
  // opportunistic TLS with an exchanger.
  DialogueSecurity SecurityOf(int i);
  // Connects slot i again to the same host, for a session in plain.
  void Reconnect(int i);

  Environment& env_;
  SpoolMoves& moves_;
  DeliveryFailure& failure_;
  SessionLimits& limits_;
  QueueScan& queue_;
  // Per slot: the reply in progress; how a session that sent QUIT ends and
  // what its connection is (the rest of the state is the slot's); whether
  // the next connect is the plain one after a failed handshake.
  std::array<ReplyBuffer, kLastSlot + 1> received_;
  std::array<DialogueState, kLastSlot + 1> sessions_;
  std::array<bool, kLastSlot + 1> plain_next_{};
};

}  // namespace dorvane
