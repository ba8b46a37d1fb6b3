// The stream socket control: what the SMTP sessions and the version check
// rely on of a TCP connection, as element arrays (`Smtp`, `SmtpDistant`) or
// a single element (`Update`). Events reach one handler object with the
// element's index. Failures of the network are reported with Windows
// Sockets numbers so that the delivery logic and its logs keep them.
//
// The sessions talk only to these interfaces; QtSocketArray (qt_socket.h)
// is the real one and tests use a fake.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace dorvane {

// Windows Sockets error numbers used by the program.
enum WinsockError : int {
  kWsaEacces = 10013,        // permission denied (privileged port)
  kWsaEaddrinuse = 10048,    // address in use
  kWsaEconnaborted = 10053,  // software caused connection abort
  kWsaEconnreset = 10054,    // connection reset by peer
  kWsaEtimedout = 10060,     // connection timed out
  kWsaEconnrefused = 10061,  // connection refused
  kWsaEhostunreach = 10065,  // no route to host
  kWsaHostNotFound = 11001,  // host not found
  kWsaBadState = 40006,      // wrong connection state for the request
  kWsaInvalidOp = 40020,     // invalid operation at current state
  kTlsFailure = 40500,       // TLS handshake or certificate check failed
};

// The text the socket control gives for a Windows Sockets number
// ("Connection is forcefully rejected" for 10061, ...).
std::string WinsockErrorText(int number);

// How a client TLS session is set up on a connected element.
struct TlsOptions {
  // The peer's certificate must chain to the system's trusted authorities
  // and match `host_name`; false accepts any certificate.
  bool verify = true;
  // The name sent in the handshake (SNI) and checked against the
  // certificate when `verify` is set.
  std::string host_name;
};

enum SocketProtocol { sckTCPProtocol = 0, sckUDPProtocol = 1 };

enum class SocketState {
  Closed,
  Open,
  Listening,
  ConnectionPending,
  ResolvingHost,
  HostResolved,
  Connecting,
  Connected,
  Closing,
  Error,
};

// One element of a socket control array.
class SocketControl {
 public:
  virtual ~SocketControl() = default;

  virtual void SetProtocol(int protocol) = 0;
  virtual int Protocol() const = 0;
  virtual void SetLocalPort(int port) = 0;
  virtual int LocalPort() const = 0;
  virtual void SetRemoteHost(const std::string& host) = 0;
  virtual std::string RemoteHost() const = 0;  // inbound: may be empty
  virtual void SetRemotePort(int port) = 0;
  virtual int RemotePort() const = 0;
  virtual std::string RemoteHostIP() const = 0;  // dotted IPv4
  virtual std::string LocalIP() const = 0;       // dotted IPv4
  virtual SocketState State() const = 0;

  // Starts listening on LocalPort on every IPv4 address. Returns 0, or the
  // Windows Sockets number of the failure (10048 in use, 10013 permission).
  virtual int Listen() = 0;
  // Takes the pending connection `request_id` (from ConnectionRequest).
  virtual void Accept(intptr_t request_id) = 0;
  // Connects to RemoteHost:RemotePort; the outcome arrives as Connect or
  // Error.
  virtual void Connect() = 0;
  // Queues the bytes and returns at once; SendComplete follows once all
  // queued bytes are written.
  virtual void SendData(const std::string& bytes) = 0;
  // Everything received so far, taken out of the socket.
  virtual std::string GetData() = 0;
  virtual void Close() = 0;

  // Starts TLS as the client on a connected element. The handshake runs in
  // the event loop: TlsReady follows once it is up, or Error(kTlsFailure,
  // the reason) and the element is closed. Received bytes not yet taken are
  // dropped, so nothing sent in plain passes for protected data. From the
  // call on, SendData and GetData carry plain text through the session.
  virtual void StartTls(const TlsOptions& options) = 0;
  // Once TlsReady has come: the protocol and the cipher
  // ("TLSv1.3 TLS_AES_256_GCM_SHA384"); empty without a TLS session.
  virtual std::string TlsDescription() const = 0;
};

// The event handler of one array; `index` is the element's index.
class SocketEvents {
 public:
  virtual ~SocketEvents() = default;
  virtual void OnConnectionRequest(int index, intptr_t request_id) { (void)index, (void)request_id; }
  virtual void OnConnect(int index) { (void)index; }
  virtual void OnDataArrival(int index, long bytes) { (void)index, (void)bytes; }
  virtual void OnSendComplete(int index) { (void)index; }
  virtual void OnTlsReady(int index) { (void)index; }
  virtual void OnClose(int index) { (void)index; }
  virtual void OnError(int index, int number, const std::string& description) {
    (void)index, (void)number, (void)description;
  }
};

// A control array: element i exists between Load(i) and Unload(i).
class SocketArray {
 public:
  virtual ~SocketArray() = default;
  // Creates element i (TCP). Loading an element that exists is an error
  // (RuntimeError 360).
  virtual void Load(int index) = 0;
  // Destroys element i, closing its connection; no event of it follows.
  virtual void Unload(int index) = 0;
  virtual bool Exists(int index) const = 0;
  // Element i; RuntimeError 340 when it does not exist.
  virtual SocketControl& operator[](int index) = 0;
  // Where events go (not owned).
  virtual void SetEvents(SocketEvents* events) = 0;
};

}  // namespace dorvane
