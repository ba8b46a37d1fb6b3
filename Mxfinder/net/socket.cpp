#include "net/socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "net/socket_errors.h"
#include "net/socket_support.h"
#include "resolver/component_error.h"

namespace mxfinder {
namespace {

// The normalised text of a dotted IPv4 address, or "" when `text` is not one.
std::string DottedAddress(const std::string& text) {
  in_addr address{};
  if (inet_pton(AF_INET, text.c_str(), &address) != 1) return "";
  char out[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &address, out, sizeof out);
  return out;
}

sockaddr_in MakeAddress(const std::string& dotted, int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (!dotted.empty()) inet_pton(AF_INET, dotted.c_str(), &address.sin_addr);
  return address;
}

std::string AddressText(const sockaddr_in& address) {
  char out[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &address.sin_addr, out, sizeof out);
  return out;
}

int ReceiveSize(int fd, int protocol) {
  if (protocol == sckUDPProtocol) return MSocketSupport::kMaxDatagram + 1;
  int size = 0;
  socklen_t length = sizeof size;
  if (getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, &length) != 0 || size <= 0) size = 8192;
  return size;
}

}  // namespace

CSocket::CSocket() { MSocketSupport::InitWinsockService(); }

CSocket::~CSocket() {
  MSocketSupport::CancelLookup(lookup_);
  DestroySocket();
}

void CSocket::Raise(int code, const char* operation) const {
  throw ComponentError(code, std::string("CSocket.") + operation, GetErrorDescription(code));
}

void CSocket::SetProtocol(int protocol) {
  if (handle_ == -1) protocol_ = protocol;
}

void CSocket::SetRemoteHost(const std::string& host) {
  remote_host_ = host;
  remote_host_ip_.clear();
}

void CSocket::vbSocket(const char* operation) {
  int type = protocol_ == sckUDPProtocol ? SOCK_DGRAM : SOCK_STREAM;
  int fd = socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) Raise(WinsockCodeFromErrno(errno), operation);
  handle_ = fd;
  bound_ = false;
  MSocketSupport::RegisterSocket(fd, this);
}

void CSocket::DestroySocket() {
  if (handle_ == -1) return;
  MSocketSupport::UnregisterSocket(handle_);
  close(handle_);
  handle_ = -1;
  bound_ = false;
}

void CSocket::FillLocal() {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (getsockname(handle_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    local_ip_ = AddressText(address);
    local_port_ = ntohs(address.sin_port);
  }
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) == 0) local_host_name_ = name;
}

// ---- sending ------------------------------------------------------------

void CSocket::SendData(const std::string& bytes) {
  if (handle_ == -1) {
    if (protocol_ != sckUDPProtocol) Raise(kWsaWrongState, "SendData");
    try {
      vbSocket("SendData");
    } catch (const ComponentError&) {
      return;  // a datagram socket that cannot be made ends the send quietly
    }
  }
  send_buffer_ = bytes;
  if (protocol_ == sckUDPProtocol && remote_host_ip_.empty()) {
    Lookup(kForSend);
    return;
  }
  SendBuffer("SendData");
}

void CSocket::SendBuffer(const char* operation) {
  if (send_buffer_.empty() || handle_ == -1) return;
  ssize_t sent;
  if (protocol_ == sckUDPProtocol) {
    sockaddr_in to = MakeAddress(remote_host_ip_, remote_port_);
    sent = sendto(handle_, send_buffer_.data(), send_buffer_.size(), MSG_NOSIGNAL,
                  reinterpret_cast<sockaddr*>(&to), sizeof to);
  } else {
    sent = send(handle_, send_buffer_.data(), send_buffer_.size(), MSG_NOSIGNAL);
  }
  if (sent < 0) {
    int code = WinsockCodeFromErrno(errno);
    if (code != kWsaEwouldblock) Raise(code, operation);
    MSocketSupport::WatchWrite(handle_, true);
    return;
  }
  send_buffer_.erase(0, static_cast<std::size_t>(sent));
  MSocketSupport::WatchWrite(handle_, !send_buffer_.empty());
  long left = static_cast<long>(send_buffer_.size());
  CSocketEvents* owner = owner_;
  if (!owner) return;
  if (left == 0) owner->OnSendComplete();
  owner->OnSendProgress(static_cast<long>(sent), left);
}

// ---- host lookup ----------------------------------------------------------

// A dotted address needs no lookup: waiting on the reverse lookup of its name
// would only delay the send, or stop it when the address has no name.
void CSocket::Lookup(Purpose purpose) {
  std::string dotted = DottedAddress(remote_host_);
  if (!dotted.empty()) {
    remote_host_ip_ = dotted;
    state_ = sckHostResolved;
    purpose == kForConnect ? StartConnect() : SendBuffer("SendData");
    return;
  }
  MSocketSupport::CancelLookup(lookup_);
  lookup_purpose_ = purpose;
  lookup_ = MSocketSupport::ResolveHost(remote_host_, this);
  if (lookup_ == 0) PostGetHostEvent("", "", kWsaHostNotFound);
}

void CSocket::PostGetHostEvent(const std::string& address, const std::string& name, int error) {
  lookup_ = 0;
  if (error != 0) {
    // The socket stays: only the send or connect that waited is given up.
    state_ = sckError;
    send_buffer_.clear();
    if (owner_) owner_->OnError(error, GetErrorDescription(error));
    return;
  }
  state_ = sckHostResolved;
  remote_host_ = name;
  remote_host_ip_ = address;
  if (lookup_purpose_ == kForConnect) return StartConnect();
  SendBuffer("SendData");
}

// ---- connecting, listening, accepting -------------------------------------

void CSocket::Connect(const std::string& host, int port) {
  if (!host.empty()) SetRemoteHost(host);
  if (port != 0) remote_port_ = port;
  if (protocol_ != sckTCPProtocol) Raise(kWsaWrongState, "CSocket.Connect");
  if (handle_ == -1) vbSocket("CSocket.Connect");
  state_ = sckResolvingHost;
  remote_host_ip_.clear();
  Lookup(kForConnect);
}

void CSocket::StartConnect() {
  sockaddr_in to = MakeAddress(remote_host_ip_, remote_port_);
  if (connect(handle_, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 && errno != EINPROGRESS) {
    Raise(WinsockCodeFromErrno(errno), "PostGetHostEvent");
  }
  // Completion, even an immediate one, is reported from the event loop.
  state_ = sckConnecting;
  MSocketSupport::WatchWrite(handle_, true);
}

void CSocket::Bind(int port, const std::string& address) {
  if (handle_ == -1) vbSocket("Bind");
  int on = 1;
  setsockopt(handle_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in local = MakeAddress(DottedAddress(address), port);
  if (!address.empty() && DottedAddress(address).empty()) Raise(10049, "Bind");
  if (address.empty()) local.sin_addr.s_addr = htonl(INADDR_ANY);
  if (bind(handle_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    Raise(WinsockCodeFromErrno(errno), "Bind");
  }
  bound_ = true;
  FillLocal();
}

void CSocket::Listen() {
  if (handle_ == -1) vbSocket("Listen");
  if (!bound_) Bind(local_port_);
  if (listen(handle_, 5) != 0) Raise(WinsockCodeFromErrno(errno), "Listen");
  state_ = sckListening;
}

void CSocket::Accept(int request_id) {
  if (!MSocketSupport::TakeAccepted(request_id)) Raise(kWsaEnotsock, "Accept");
  DestroySocket();
  protocol_ = sckTCPProtocol;
  handle_ = request_id;
  MSocketSupport::RegisterSocket(handle_, this);
  FillLocal();
  sockaddr_in peer{};
  socklen_t length = sizeof peer;
  if (getpeername(handle_, reinterpret_cast<sockaddr*>(&peer), &length) == 0) {
    remote_host_ip_ = AddressText(peer);
    remote_port_ = ntohs(peer.sin_port);
  }
  state_ = sckConnected;
}

void CSocket::CloseSocket() {
  MSocketSupport::CancelLookup(lookup_);
  lookup_ = 0;
  if (state_ == sckConnected && handle_ != -1) {
    state_ = sckClosing;
    shutdown(handle_, SHUT_WR);
    return;
  }
  DestroySocket();
  state_ = sckClosed;
}

// ---- notifications ----------------------------------------------------------

void CSocket::ReadReady() {
  if (state_ != sckListening) return RecvToBuffer();
  int fd = accept4(handle_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) return;  // the peer gave up before we came to it
  MSocketSupport::AddAccepted(fd);
  if (owner_) owner_->OnConnectionRequest(fd);
  if (MSocketSupport::TakeAccepted(fd)) close(fd);  // nobody adopted it
}

void CSocket::WriteReady() {
  if (state_ != sckConnecting) {
    if (send_buffer_.empty()) return MSocketSupport::WatchWrite(handle_, false);
    return SendBuffer("SendData");
  }
  MSocketSupport::WatchWrite(handle_, !send_buffer_.empty());
  int error = 0;
  socklen_t length = sizeof error;
  getsockopt(handle_, SOL_SOCKET, SO_ERROR, &error, &length);
  if (error != 0) return AsyncError(WinsockCodeFromErrno(error));
  FillLocal();
  state_ = sckConnected;
  if (owner_) owner_->OnConnect();
}

void CSocket::RecvToBuffer() {
  std::string chunk(static_cast<std::size_t>(ReceiveSize(handle_, protocol_)), '\0');
  ssize_t got;
  if (protocol_ == sckUDPProtocol) {
    sockaddr_in from{};
    socklen_t length = sizeof from;
    got = recvfrom(handle_, chunk.data(), chunk.size(), 0, reinterpret_cast<sockaddr*>(&from), &length);
    if (got >= 0) {
      // The sender's name would need a blocking reverse lookup: left empty.
      remote_host_.clear();
      remote_host_ip_ = AddressText(from);
      remote_port_ = ntohs(from.sin_port);
    }
  } else {
    got = recv(handle_, chunk.data(), chunk.size(), 0);
    if (got == 0) return PeerClosed();
  }
  if (got < 0) {
    const int error_number = errno;
    if (error_number == EINTR) return;
    int code = WinsockCodeFromErrno(error_number);
    if (code == kWsaEwouldblock) return;
    // A datagram socket too: a thrown error would be dropped by the
    // notifier unheard, and a pending error left on the socket (an ICMP
    // report) would wake the notifier again and again.
    return AsyncError(code);
  }
  if (got == 0) return;
  receive_buffer_.append(chunk.data(), static_cast<std::size_t>(got));
  bytes_received_ += static_cast<long>(got);
  if (owner_) owner_->OnDataArrival(static_cast<long>(receive_buffer_.size()));
}

void CSocket::PeerClosed() {
  if (state_ != sckClosing) {
    state_ = sckClosing;
    SendBuffer("SendData");
  }
  DestroySocket();
  state_ = sckClosed;
  if (owner_) owner_->OnClose();
}

void CSocket::AsyncError(int code) {
  state_ = sckError;
  DestroySocket();
  if (owner_) owner_->OnError(code, GetErrorDescription(code));
}

// ---- receive buffer -------------------------------------------------------

bool CSocket::PeekData(std::string& data, long max_length) const {
  if (receive_buffer_.empty()) return false;
  std::size_t take = receive_buffer_.size();
  if (max_length > 0 && static_cast<std::size_t>(max_length) <= take) take = static_cast<std::size_t>(max_length);
  data = receive_buffer_.substr(0, take);
  return true;
}

bool CSocket::GetData(std::string& data, long max_length) {
  if (!PeekData(data, max_length)) return false;
  receive_buffer_.erase(0, data.size());
  return true;
}

}  // namespace mxfinder
