// A client TLS session over memory buffers: ciphertext from the network is
// fed in and plaintext comes out, plaintext to send goes in and ciphertext
// comes out to be written to the network. It never touches a socket, so
// the socket element keeps its own non-blocking reads and writes, and a
// handshake waits for the peer without blocking anything.
#pragma once

#include <memory>
#include <string>

#include "base/socket_control.h"

namespace dorvane {

class TlsChannel {
 public:
  enum class Step {
    kHandshaking,    // waiting for the peer's next handshake bytes
    kHandshakeDone,  // the session came up in this call (told once)
    kOpen,           // the session is up
    kFailed,         // see Failure(); the channel is done
  };

  // Prepares a client session: TLS 1.2 at least, the name sent unless it is
  // empty or an address, the certificate checked as `options` say. A setup
  // that fails shows as kFailed on the first Advance.
  explicit TlsChannel(const TlsOptions& options);
  ~TlsChannel();
  TlsChannel(const TlsChannel&) = delete;
  TlsChannel& operator=(const TlsChannel&) = delete;

  // Ciphertext received from the peer, to be read by the next Advance.
  void Feed(const char* data, size_t size);
  // Plaintext to send; held until the handshake is done, then encrypted.
  void Write(const std::string& plain);
  // Plaintext given to Write and not yet encrypted.
  size_t PendingPlain() const { return plain_out_.size(); }
  // Runs the handshake as far as the fed bytes allow, encrypts what waits,
  // and appends every decrypted byte to `plain`.
  Step Advance(std::string& plain);
  // Ciphertext to be written to the peer, taken out of the channel.
  std::string TakeOutput();
  // Queues close_notify when the session is up (nothing otherwise).
  void Shutdown();
  // The peer ended the session (close_notify): nothing more will come.
  bool PeerClosed() const { return peer_closed_; }

  // Why the session failed, for the Error event: fixed library texts only,
  // never bytes of the peer.
  const std::string& Failure() const { return failure_; }
  // "PROTOCOL CIPHER" once the handshake is done; empty before.
  const std::string& Description() const { return description_; }

 private:
  struct Session;
  Step Handshake();
  Step ReadPlain(std::string& plain);
  bool FlushPlain();
  Step Fail(const std::string& reason);

  std::unique_ptr<Session> session_;
  std::string plain_out_;
  std::string failure_;
  std::string description_;
  bool up_ = false;
  bool peer_closed_ = false;
};

}  // namespace dorvane
