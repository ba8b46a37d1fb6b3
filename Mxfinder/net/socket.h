// CSocket: an event-driven TCP or UDP socket for a single-threaded program
// with an event loop. Its properties, methods and states mirror the stream
// socket control of the program; its events reach an owner that implements
// CSocketEvents. Notifications arrive only while the thread that created
// the socket runs its event loop.
//
// Synchronous failures throw ComponentError with a Windows Sockets number,
// its text and the source "CSocket." + method. Asynchronous failures put the
// socket into sckError and raise OnError.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>

namespace mxfinder {

enum CSocketState : int {
  sckClosed = 0,
  sckListening = 2,
  sckResolvingHost = 4,
  sckHostResolved = 5,
  sckConnecting = 6,
  sckConnected = 7,
  sckClosing = 8,
  sckError = 9,
};

enum CSocketProtocol : int { sckTCPProtocol = 0, sckUDPProtocol = 1 };

// The events of a CSocket; every one does nothing unless overridden. The
// handler may read and change the socket but must not destroy it.
class CSocketEvents {
 public:
  virtual ~CSocketEvents() = default;
  virtual void OnClose() {}
  virtual void OnConnect() {}
  // `request_id`: the accepted connection, to hand to another CSocket's
  // Accept during this call (it is closed afterwards otherwise).
  virtual void OnConnectionRequest(int request_id) { (void)request_id; }
  // `bytes_total`: the bytes now waiting in the receive buffer.
  virtual void OnDataArrival(long bytes_total) { (void)bytes_total; }
  virtual void OnError(int number, const std::string& description) {
    (void)number;
    (void)description;
  }
  virtual void OnSendComplete() {}
  virtual void OnSendProgress(long bytes_sent, long bytes_remaining) {
    (void)bytes_sent;
    (void)bytes_remaining;
  }
};

class CSocket {
 public:
  CSocket();
  // Destroys the system socket and cancels a pending lookup.
  ~CSocket();
  CSocket(const CSocket&) = delete;
  CSocket& operator=(const CSocket&) = delete;

  // Where events go; none until set.
  void SetOwner(CSocketEvents* owner) { owner_ = owner; }

  int State() const { return state_; }
  // The system socket, -1 when there is none.
  int SocketHandle() const { return handle_; }
  int Protocol() const { return protocol_; }
  // Ignored while a system socket exists.
  void SetProtocol(int protocol);
  const std::string& RemoteHost() const { return remote_host_; }
  // Also forgets RemoteHostIP, so the next send or connect looks the host up.
  void SetRemoteHost(const std::string& host);
  const std::string& RemoteHostIP() const { return remote_host_ip_; }
  int RemotePort() const { return remote_port_; }
  void SetRemotePort(int port) { remote_port_ = port; }
  const std::string& LocalHostName() const { return local_host_name_; }
  const std::string& LocalIP() const { return local_ip_; }
  int LocalPort() const { return local_port_; }
  void SetLocalPort(int port) { local_port_ = port; }
  long BytesReceived() const { return bytes_received_; }

  // Replaces the send buffer with `bytes` and sends it: TCP on the
  // connection; UDP as one datagram to RemoteHost:RemotePort, after an
  // asynchronous lookup when RemoteHost is a name (a dotted address is sent
  // to at once). A UDP socket is created on first use.
  void SendData(const std::string& bytes);
  // Sends the bytes of a number as the platform stores them.
  template <class T>
    requires std::is_arithmetic_v<T>
  void SendData(T value) {
    SendData(std::string(reinterpret_cast<const char*>(&value), sizeof value));
  }

  // Takes up to `max_length` bytes (all when 0 or beyond the buffer) out of
  // the receive buffer into `data`. False, `data` untouched, when the
  // buffer is empty. A UDP read holds one datagram.
  bool GetData(std::string& data, long max_length = 0);
  // As GetData without removing the bytes.
  bool PeekData(std::string& data, long max_length = 0) const;
  // Takes the first sizeof(T) bytes as a number; false when fewer wait.
  template <class T>
    requires std::is_arithmetic_v<T>
  bool GetData(T& value) {
    if (receive_buffer_.size() < sizeof value) return false;
    std::memcpy(&value, receive_buffer_.data(), sizeof value);
    receive_buffer_.erase(0, sizeof value);
    return true;
  }

  // TCP: looks RemoteHost up (at once for a dotted address) and connects to
  // RemotePort; OnConnect or OnError follows. Empty `host` and 0 `port`
  // keep the current values.
  void Connect(const std::string& host = "", int port = 0);
  // Binds to LocalPort unless bound, then listens (backlog 5).
  void Listen();
  // Binds to `port` on `address` (any address when empty).
  void Bind(int port, const std::string& address = "");
  // Adopts the connection `request_id` given by OnConnectionRequest.
  void Accept(int request_id);
  // Connected: half-closes and waits for the peer's close. Otherwise
  // destroys the socket at once. Never fails.
  void CloseSocket();

  // Called by MSocketSupport only: the system socket became readable or
  // writable, or a host lookup finished (`address` dotted, "" on error).
  void ReadReady();
  void WriteReady();
  void PostGetHostEvent(const std::string& address, const std::string& name, int error);

 private:
  enum Purpose { kForConnect = 0, kForSend = 1 };

  void vbSocket(const char* operation);
  void DestroySocket();
  void Lookup(Purpose purpose);
  void StartConnect();
  void SendBuffer(const char* operation);
  void RecvToBuffer();
  void PeerClosed();
  void AsyncError(int code);
  void FillLocal();
  void Raise(int code, const char* operation) const;

  CSocketEvents* owner_ = nullptr;
  int state_ = sckClosed;
  int handle_ = -1;
  int protocol_ = sckTCPProtocol;
  std::string remote_host_;
  std::string remote_host_ip_;
  int remote_port_ = 0;
  std::string local_host_name_;
  std::string local_ip_;
  int local_port_ = 0;
  long bytes_received_ = 0;
  bool bound_ = false;
  std::string send_buffer_;
  std::string receive_buffer_;
  int lookup_ = 0;  // pending lookup handle, 0 when none
  Purpose lookup_purpose_ = kForConnect;
};

}  // namespace mxfinder
