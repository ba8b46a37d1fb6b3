// The client side of the SMTP dialogue on one outbound slot as a pure state
// machine: greeting, HELO (or EHLO, STARTTLS or TLS from the connect, and
// AUTH), MAIL FROM, one RCPT TO per recipient, DATA (the three sent together
// to a server that offers PIPELINING), the body and QUIT. A step takes the slot's state, one event (a complete reply,
// a connect, a send-complete, a close or an error) and gives the next state
// and the actions to run, in order. No sockets, files, logs or clocks here:
// the adapter (ClientSession) runs the actions.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "config/smtp_secret.h"
#include "delivery/session_states.h"

namespace dorvane {

class CMessage;

// What one step asks for, in the order given.
struct DialogueAction {
  enum Kind {
    kSend,             // text: bytes for the socket, as they are
    kDebugLog,         // text: one whole Debug.html entry
    kMailLog,          // text: one maillog.txt line, after its date stamp
    kUnexpected,       // text: the maillog.txt line (after its stamp) of a
                       // headless run; on the desktop a box says it
    kStartReplyLimit,  // the reply limit starts again
    kClose,            // closes the slot's socket
    kDelivered,        // the message is delivered: its OutBox file goes
    kRefuse,           // text: the whole 5xx reply; where: what it refused
    kReplyFailure,     // text: the whole reply that failed the attempt for now
    kSocketFailure,    // number, text: the socket error and its description
    kRelease,          // frees the slot
    kScan,             // asks for a scan of the queue
    kStartTls,         // starts TLS: text the host name, number 1 to verify it
    kReconnect,        // connects again to the same host, in plain
    kAuthFailure,      // text: why the smarthost did not take the login
  };
  Kind kind;
  std::string text;
  int number = 0;
  RefusedAt where = RefusedAt::Message;

  bool operator==(const DialogueAction&) const = default;
};

// How a session that sent QUIT ends once the QUIT is handed over (or the
// connection ends first).
struct DialogueEnding {
  enum Kind { kNone, kDelivered, kRefused, kFailed, kAuthFailed };
  Kind kind = kNone;
  std::string reply;  // the reply that ended the session
  RefusedAt where = RefusedAt::Message;

  bool operator==(const DialogueEnding&) const = default;
};

// The state of one slot's dialogue: CConnexion's Status and CurrentRcptTo,
// the ending that waits for the QUIT, and what its connection is.
struct DialogueState {
  int32_t status = kOutFree;
  uint8_t rcpt = 0;  // the recipient sent last (1 to n), 0 before the first
  DialogueEnding ending;
  bool tls = false;         // TLS is up on this connection
  bool plain_only = false;  // a second connection after a failed handshake
  bool pipelining = false;  // the envelope goes in one send; its replies are read in turn

  bool operator==(const DialogueState&) const = default;
};

// One event of the slot's socket.
struct DialogueEvent {
  enum Kind { kConnect, kReply, kSendComplete, kClose, kError, kTlsReady };
  Kind kind;
  std::string bytes;  // kReply: one complete reply; kError: the description;
                      // kTlsReady: the protocol and cipher
  int number = 0;     // kError: the socket error number
};

// How the session protects itself and logs in.
struct DialogueSecurity {
  enum Mode {
    kPlain,     // the smarthost without TLS: HELO, as always
    kStartTls,  // the smarthost: EHLO, STARTTLS required, EHLO again
    kTls,       // the smarthost: TLS from the connect on
    kExchanger, // an exchanger: EHLO (HELO when refused), STARTTLS when offered
  };
  Mode mode = kPlain;
  bool verify = true;     // the smarthost's certificate is checked
  std::string host;       // the name the handshake asks for and checks
  std::string user;       // AUTH inside TLS when not empty
  // Reads the password at the moment it is sent.
  std::function<SmtpSecret()> secret;
};

// What the dialogue reads of its slot: the number, the bound message, the
// HELO argument, the peer as "host [ip]", how to secure the session and
// whether debug-log entries are wanted (none is made otherwise).
struct DialogueFacts {
  int slot;
  const CMessage& message;
  const std::string& helo_name;
  std::string peer;
  DialogueSecurity security = {};
  bool debug = true;
};

struct DialogueStep {
  DialogueState next;
  std::vector<DialogueAction> actions;
};

// One step of the dialogue. Replies act only in a live session (InSession);
// bytes that arrive while the handshake runs are no reply and are ignored;
// a session that sent QUIT ends on the next send-complete, close or error
// event; every other event of a slot that is not in session is ignored (no
// actions, state unchanged). Nothing a peer sends reaches a command, and
// the credentials leave only inside TLS, shown as "****" in the debug log.
DialogueStep StepDialogue(const DialogueState& state, const DialogueEvent& event, const DialogueFacts& facts);

}  // namespace dorvane
