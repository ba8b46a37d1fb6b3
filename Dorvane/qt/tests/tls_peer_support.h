// A scripted TLS server on loopback for the socket tests: keys and
// certificates made in memory, an authority the process trusts, and a
// non-blocking server stepped from the test's wait loop (no thread).
#pragma once

#include <memory>
#include <string>

namespace dorvane::test {

// The test authority's name and the names its server certificate carries.
inline constexpr char kTlsTestHost[] = "mail.dorvane.test";

// Makes the test authority once per process and names it in SSL_CERT_FILE,
// so that a checking client trusts it as one of the system's. Call before
// the first checking session of the process.
void TrustTestAuthority();

class TlsPeer {
 public:
  enum class Mode {
    kTls,      // answers with TLS
    kGarbage,  // answers the first bytes with plain text
    kSilent,   // accepts, reads and never answers
  };
  enum class Certificate {
    kSigned,      // by the test authority, for kTlsTestHost and 127.0.0.1
    kSelfSigned,  // for kTlsTestHost
  };
  enum class End { kFin, kReset };

  // Listens on 127.0.0.1 at a free port. `max_version` (an OpenSSL
  // version number, 0 for none) caps what the server speaks.
  explicit TlsPeer(Mode mode, Certificate certificate = Certificate::kSigned, int max_version = 0);
  ~TlsPeer();
  TlsPeer(const TlsPeer&) = delete;
  TlsPeer& operator=(const TlsPeer&) = delete;

  int Port() const;
  // Plain bytes sent at once when the client is accepted, before TLS.
  void GreetInPlain(const std::string& bytes);
  // Bytes to send through the session (queued until it is up).
  void Send(const std::string& bytes);
  // Accepts, handshakes, reads and writes as far as possible without
  // waiting; call it from the wait loop's condition.
  void Step();
  // Closes the accepted connection: orderly, or with a reset.
  void Drop(End end);

  bool Up() const;                 // the handshake is done
  bool Ended() const;              // the client closed, or the session failed
  bool CloseNotified() const;      // the client sent close_notify
  // What the client sent: plaintext under kTls, the raw bytes otherwise.
  const std::string& Received() const;
  const std::string& ServerName() const;  // the name the client sent (SNI)

 private:
  struct State;
  std::unique_ptr<State> s_;
};

}  // namespace dorvane::test
