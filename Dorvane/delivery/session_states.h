// The states of an outbound slot (CConnexion::Status). 1, 8 and 10 belong
// to inbound slots only.
#pragma once

#include <cstdint>

namespace dorvane {

enum OutState : int32_t {
  kOutFree = 0,
  kOutReserved = 2,     // message bound, route being resolved
  kOutConnecting = 3,   // connecting, or connected and waiting for the greeting
  kOutHeloSent = 4,
  kOutMailFromSent = 5, // also: a recipient that is not the last one sent
  kOutLastRcptSent = 6,
  kOutDataSent = 7,
  kOutBodySending = 9,
  kOutBodySent = 11,    // waiting for the final reply
  kOutEnding = 12,      // QUIT sent, or a final failure being handled
  // Before MAIL FROM, with extensions: none of these is the message's fault.
  kOutEhloSent = 13,       // EHLO sent, before or inside TLS
  kOutStartTlsSent = 14,
  kOutTlsStarting = 15,    // the handshake runs: waiting for TlsReady
  kOutAuthLoginSent = 16,  // AUTH LOGIN sent: waiting for the user prompt
  kOutAuthUserSent = 17,   // LOGIN's user sent: waiting for the password prompt
  kOutAuthSent = 18,       // AUTH PLAIN, or LOGIN's password, sent: waiting for 235
};

// Whether `status` is one of the steps between the greeting and MAIL FROM
// that only a session with extensions takes (13 to 18).
inline bool InPreamble(int32_t status) { return status >= kOutEhloSent && status <= kOutAuthSent; }

// Whether a slot in `status` has a live session that socket events, closes
// and time limits may end (3 to 11, 13 to 18). A slot that is free,
// resolving or already ending is left alone.
inline bool InSession(int32_t status) {
  return (status >= kOutConnecting && status <= kOutBodySent) || InPreamble(status);
}

// Where a refusal came: at a recipient (the last one sent) or for the
// message as a whole (greeting, HELO, MAIL FROM, after the body).
enum class RefusedAt { Recipient, Message };

}  // namespace dorvane
