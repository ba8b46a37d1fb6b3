#include "qt/qt_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QHostAddress>
#include <QHostInfo>
#include <QNetworkInterface>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTimer>
#include <cerrno>
#include <functional>

#include "base/runtime_error.h"
#include "log/guard.h"
#include "qt/tls_channel.h"

namespace dorvane {
namespace {

// Received bytes taken per read notification, so that a fast sender cannot
// hold the event loop.
constexpr size_t kReadChunk = 64 * 1024;
constexpr int kReadChunksPerEvent = 16;
// Output a peer may leave unread before the connection is dropped: a client
// that never reads cannot make us buffer its replies without end.
constexpr size_t kMaxPendingOutput = 1 << 20;

class ListenServer : public QTcpServer {
 public:
  std::function<void(qintptr)> on_incoming;

 protected:
  void incomingConnection(qintptr fd) override { on_incoming(fd); }
};

std::string DottedIPv4(const sockaddr_in& a) {
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
  return text;
}

// The computer's own address when no connection says which one: the first
// IPv4 address of an interface other than loopback.
std::string MachineIPv4() {
  for (const QHostAddress& a : QNetworkInterface::allAddresses()) {
    if (a.protocol() == QAbstractSocket::IPv4Protocol && !a.isLoopback())
      return a.toString().toStdString();
  }
  return "127.0.0.1";
}

}  // namespace

int WinsockFromErrno(int err) {
  switch (err) {
    case EACCES:
    case EPERM: return kWsaEacces;
    case EADDRINUSE: return kWsaEaddrinuse;
    case EADDRNOTAVAIL: return 10049;
    case ENETDOWN: return 10050;
    case ENETUNREACH: return 10051;
    case ECONNRESET:
    case EPIPE: return kWsaEconnreset;
    case ETIMEDOUT: return kWsaEtimedout;
    case ECONNREFUSED: return kWsaEconnrefused;
    case EHOSTUNREACH: return kWsaEhostunreach;
    default: return kWsaEconnaborted;
  }
}

// One element. Callbacks hold a weak token: once the element is closed or
// destroyed (possibly by the handler of its own event) they do nothing.
class QtSocketElement : public SocketControl {
 public:
  QtSocketElement(QtSocketArray& array, int index) : array_(array), index_(index) {}
  ~QtSocketElement() override { Reset(SocketState::Closed); }

  void SetProtocol(int protocol) override { protocol_ = protocol; }
  int Protocol() const override { return protocol_; }
  void SetLocalPort(int port) override {
    if (port < 0 || port > 65535) Raise(380, array_.Name(), "Invalid property value");
    local_port_ = port;
  }
  int LocalPort() const override;
  void SetRemoteHost(const std::string& host) override { remote_host_ = host; }
  std::string RemoteHost() const override { return remote_host_; }
  void SetRemotePort(int port) override { remote_port_ = port; }
  int RemotePort() const override { return remote_port_; }
  std::string RemoteHostIP() const override { return peer_ip_; }
  std::string LocalIP() const override;
  SocketState State() const override { return state_; }

  int Listen() override;
  void Accept(intptr_t request_id) override;
  void Connect() override;
  void SendData(const std::string& bytes) override;
  std::string GetData() override { return std::exchange(in_, std::string()); }
  void Close() override { Reset(SocketState::Closed); }
  void StartTls(const TlsOptions& options) override;
  std::string TlsDescription() const override { return tls_ ? tls_->Description() : ""; }

 private:
  std::weak_ptr<char> Token() const { return alive_; }
  void Reset(SocketState state);
  void RequireClosed() const;
  void Adopt(int fd);
  void StartConnect(quint32 ipv4);
  void OnIncoming(qintptr fd);
  void OnReadable();
  void OnWritable();
  int SendNow();
  bool TakeSendComplete();
  void QueueTlsOutput();
  bool AdvanceTls(size_t& got, bool& eof);
  void SendTlsGoodbye();
  // Closes the element, then tells the failure: `text` or, when empty, the
  // number's own text.
  void Fail(int number, const std::string& text = "");
  void FailLater(int number, const std::string& text = "");
  void TellPeerClosed();
  // Runs the handler of `event` under Guard; false when the element was
  // closed or destroyed meanwhile (nothing of it may be touched then).
  bool Fire(const char* event, const std::function<void(SocketEvents&, int)>& call);

  QtSocketArray& array_;
  const int index_;
  int protocol_ = sckTCPProtocol;
  int local_port_ = 0;
  std::string remote_host_;
  int remote_port_ = 0;
  std::string peer_ip_;
  SocketState state_ = SocketState::Closed;
  int fd_ = -1;
  QSocketNotifier* read_notifier_ = nullptr;
  QSocketNotifier* write_notifier_ = nullptr;
  ListenServer* server_ = nullptr;
  std::string in_;
  std::string out_;
  bool peer_closed_ = false;  // EOF seen; Close is told once out_ is sent
  bool overflowed_ = false;   // dropped for unread output; sends are ignored
  bool send_pending_ = false;  // SendData was called since the last SendComplete
  // The TLS session once StartTls was called: reads feed it, writes send
  // what it gives.
  std::unique_ptr<TlsChannel> tls_;
  std::shared_ptr<char> alive_ = std::make_shared<char>();
};

int QtSocketElement::LocalPort() const {
  if (server_) return server_->serverPort();
  sockaddr_in a{};
  socklen_t len = sizeof a;
  if (fd_ >= 0 && getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) == 0) return ntohs(a.sin_port);
  return local_port_;
}

std::string QtSocketElement::LocalIP() const {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  if (fd_ >= 0 && getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) == 0 &&
      a.sin_addr.s_addr != htonl(INADDR_ANY))
    return DottedIPv4(a);
  return MachineIPv4();
}

void QtSocketElement::Reset(SocketState state) {
  alive_ = std::make_shared<char>();  // cancels every callback of the old connection
  if (tls_ && fd_ >= 0) SendTlsGoodbye();
  tls_.reset();
  send_pending_ = false;
  for (QSocketNotifier** n : {&read_notifier_, &write_notifier_}) {
    if (!*n) continue;
    (*n)->setEnabled(false);
    (*n)->deleteLater();
    *n = nullptr;
  }
  if (server_) {
    server_->close();
    server_->deleteLater();
    server_ = nullptr;
  }
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  in_.clear();
  out_.clear();
  peer_closed_ = false;
  state_ = state;
}

void QtSocketElement::RequireClosed() const {
  if (state_ != SocketState::Closed) Raise(kWsaInvalidOp, array_.Name(), WinsockErrorText(kWsaInvalidOp));
}

int QtSocketElement::Listen() {
  RequireClosed();
  auto* server = new ListenServer;
  server->on_incoming = [this, token = Token()](qintptr fd) {
    if (token.expired()) {
      ::close(static_cast<int>(fd));
      return;
    }
    OnIncoming(fd);
  };
  if (!server->listen(QHostAddress::AnyIPv4, static_cast<quint16>(local_port_))) {
    int number = server->serverError() == QAbstractSocket::SocketAccessError ? kWsaEacces : kWsaEaddrinuse;
    delete server;
    return number;
  }
  server_ = server;
  state_ = SocketState::Listening;
  return 0;
}

void QtSocketElement::OnIncoming(qintptr fd) {
  QtSocketArray& array = array_;  // survives this element
  intptr_t id = array.AddPending(static_cast<int>(fd));
  Fire("ConnectionRequest", [id](SocketEvents& e, int i) { e.OnConnectionRequest(i, id); });
  array.DropPending(id);
}

void QtSocketElement::Accept(intptr_t request_id) {
  RequireClosed();
  int fd = array_.TakePending(request_id);
  if (fd < 0) Raise(kWsaInvalidOp, array_.Name(), "Unknown connection request");
  Adopt(fd);
}

void QtSocketElement::Adopt(int fd) {
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  fd_ = fd;
  overflowed_ = false;
  sockaddr_in a{};
  socklen_t len = sizeof a;
  if (getpeername(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
    peer_ip_ = DottedIPv4(a);
    if (remote_host_.empty()) remote_port_ = ntohs(a.sin_port);
  }
  state_ = SocketState::Connected;
  read_notifier_ = new QSocketNotifier(fd, QSocketNotifier::Read);
  QObject::connect(read_notifier_, &QSocketNotifier::activated, [this, token = Token()] {
    if (!token.expired()) OnReadable();
  });
  write_notifier_ = new QSocketNotifier(fd, QSocketNotifier::Write);
  write_notifier_->setEnabled(false);
  QObject::connect(write_notifier_, &QSocketNotifier::activated, [this, token = Token()] {
    if (!token.expired()) OnWritable();
  });
}

void QtSocketElement::Connect() {
  RequireClosed();
  peer_ip_.clear();
  QHostAddress literal;
  if (literal.setAddress(QString::fromStdString(remote_host_)) &&
      literal.protocol() == QAbstractSocket::IPv4Protocol) {
    StartConnect(literal.toIPv4Address());
    return;
  }
  state_ = SocketState::ResolvingHost;
  QHostInfo::lookupHost(QString::fromStdString(remote_host_), [this, token = Token()](const QHostInfo& info) {
    if (token.expired()) return;
    for (const QHostAddress& a : info.addresses()) {
      if (a.protocol() != QAbstractSocket::IPv4Protocol) continue;
      StartConnect(a.toIPv4Address());
      return;
    }
    Fail(kWsaHostNotFound);
  });
}

void QtSocketElement::StartConnect(quint32 ipv4) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    FailLater(WinsockFromErrno(errno));
    return;
  }
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(remote_port_));
  a.sin_addr.s_addr = htonl(ipv4);
  peer_ip_ = DottedIPv4(a);
  int rc = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  int err = rc == 0 ? 0 : errno;
  if (rc != 0 && err != EINPROGRESS) {
    ::close(fd);
    FailLater(WinsockFromErrno(err));
    return;
  }
  std::string remote = remote_host_;
  Adopt(fd);  // also takes the peer address when already connected
  remote_host_ = remote;
  state_ = SocketState::Connecting;
  // A peer that greets at once must not be read before the Connect event:
  // the session could not answer on a socket that is still connecting.
  read_notifier_->setEnabled(false);
  write_notifier_->setEnabled(true);  // writable = the connect finished
}

void QtSocketElement::OnReadable() {
  // Text sent at once may have its answer here before the write notifier
  // has run: its SendComplete comes first, as it would have.
  if (out_.empty() && TakeSendComplete()) {
    write_notifier_->setEnabled(false);
    if (!Fire("SendComplete", [](SocketEvents& e, int i) { e.OnSendComplete(i); })) return;
  }
  char buf[kReadChunk];
  size_t got = 0;
  bool eof = false;
  int err = 0;
  for (int chunk = 0; chunk < kReadChunksPerEvent; ++chunk) {
    ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    if (n > 0) {
      if (tls_) tls_->Feed(buf, static_cast<size_t>(n));
      else in_.append(buf, static_cast<size_t>(n));
      got += static_cast<size_t>(n);
      // A short read took all there was: the notifier fires again when more
      // comes, so asking once more would only cost a call that fails.
      if (static_cast<size_t>(n) < sizeof buf) break;
      continue;
    }
    if (n == 0) eof = true;
    else if (errno == EINTR) continue;
    else if (errno != EAGAIN && errno != EWOULDBLOCK) err = errno;
    break;
  }
  if (tls_ && got > 0 && !AdvanceTls(got, eof)) return;
  if (got > 0) {
    long total = static_cast<long>(in_.size());
    if (!Fire("DataArrival", [total](SocketEvents& e, int i) { e.OnDataArrival(i, total); })) return;
  }
  if (err) {
    Fail(WinsockFromErrno(err));
    return;
  }
  if (!eof) return;
  read_notifier_->setEnabled(false);
  state_ = SocketState::Closing;
  peer_closed_ = true;
  // A peer that only shut its sending side still reads: the replies it is
  // owed go out before the Close event lets the handler close.
  if (out_.empty()) TellPeerClosed();
}

void QtSocketElement::TellPeerClosed() {
  peer_closed_ = false;
  Fire("Close", [](SocketEvents& e, int i) { e.OnClose(i); });
}

void QtSocketElement::OnWritable() {
  if (state_ == SocketState::Connecting) {
    int err = 0;
    socklen_t len = sizeof err;
    getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len);
    if (err) {
      Fail(WinsockFromErrno(err));
      return;
    }
    state_ = SocketState::Connected;
    read_notifier_->setEnabled(true);
    write_notifier_->setEnabled(!out_.empty());
    Fire("Connect", [](SocketEvents& e, int i) { e.OnConnect(i); });
    return;
  }
  if (int err = SendNow()) {
    if (err != EAGAIN && err != EWOULDBLOCK) Fail(WinsockFromErrno(err));
    return;
  }
  write_notifier_->setEnabled(false);
  if (TakeSendComplete() && !Fire("SendComplete", [](SocketEvents& e, int i) { e.OnSendComplete(i); })) return;
  if (peer_closed_ && out_.empty()) TellPeerClosed();
}

// SendComplete answers SendData: the handshake's own bytes raise none, and
// text held until the handshake is done is not sent yet.
bool QtSocketElement::TakeSendComplete() {
  if (!send_pending_ || (tls_ && tls_->PendingPlain() != 0)) return false;
  send_pending_ = false;
  return true;
}

// One block of any size may be queued on a socket that has sent all it
// had (a whole message text); what piles up behind unsent output may not
// pass kMaxPendingOutput, or the connection is dropped with an error.
void QtSocketElement::SendData(const std::string& bytes) {
  if (overflowed_) return;  // the Error event is on its way
  if (state_ != SocketState::Connected && state_ != SocketState::Closing)
    Raise(kWsaBadState, array_.Name(), WinsockErrorText(kWsaBadState));
  size_t pending = out_.size() + (tls_ ? tls_->PendingPlain() : 0);
  if (pending != 0 && pending + bytes.size() > kMaxPendingOutput) {
    overflowed_ = true;
    std::string().swap(out_);
    read_notifier_->setEnabled(false);
    write_notifier_->setEnabled(false);
    FailLater(kWsaEconnaborted);
    return;
  }
  send_pending_ = true;
  if (tls_) {
    tls_->Write(bytes);
    if (!tls_->Failure().empty()) FailLater(kTlsFailure, tls_->Failure());
    else QueueTlsOutput();
    return;
  }
  out_ += bytes;
  // Nothing waits before it: out at once, a turn of the loop sooner for the
  // peer. The notifier still raises SendComplete, and sends what is left.
  // A failure is left to OnWritable, which meets it again and raises the
  // Error event outside the caller's call.
  if (out_.size() == bytes.size() && state_ == SocketState::Connected) (void)SendNow();
  write_notifier_->setEnabled(true);
}

// Sends what the socket takes now: 0 once out_ is empty, else the errno
// that stopped it (EAGAIN: the socket takes no more for the moment).
int QtSocketElement::SendNow() {
  while (!out_.empty()) {
    ssize_t n = ::send(fd_, out_.data(), out_.size(), MSG_NOSIGNAL);
    if (n > 0) {
      out_.erase(0, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    return n < 0 ? errno : ECONNRESET;
  }
  return 0;
}

// Bytes received but not taken are dropped: a peer (or someone between us)
// must not get replies read as if they had come through the session.
void QtSocketElement::StartTls(const TlsOptions& options) {
  if (state_ != SocketState::Connected) Raise(kWsaBadState, array_.Name(), WinsockErrorText(kWsaBadState));
  if (tls_) Raise(kWsaInvalidOp, array_.Name(), WinsockErrorText(kWsaInvalidOp));
  in_.clear();
  tls_ = std::make_unique<TlsChannel>(options);
  std::string none;
  if (tls_->Advance(none) == TlsChannel::Step::kFailed) {
    FailLater(kTlsFailure, tls_->Failure());
    return;
  }
  QueueTlsOutput();
}

void QtSocketElement::QueueTlsOutput() {
  std::string bytes = tls_->TakeOutput();
  if (bytes.empty()) return;
  out_ += bytes;
  write_notifier_->setEnabled(true);
}

// Runs the session on the ciphertext just fed; `got` becomes the count of
// decrypted bytes. False when the element failed or is gone.
bool QtSocketElement::AdvanceTls(size_t& got, bool& eof) {
  size_t before = in_.size();
  TlsChannel::Step step = tls_->Advance(in_);
  QueueTlsOutput();
  got = in_.size() - before;
  if (step == TlsChannel::Step::kFailed) {
    Fail(kTlsFailure, tls_->Failure());
    return false;
  }
  if (tls_->PeerClosed()) eof = true;
  if (step != TlsChannel::Step::kHandshakeDone) return true;
  return Fire("TlsReady", [](SocketEvents& e, int i) { e.OnTlsReady(i); });
}

// The peer hears that the session ends (close_notify, or the alert of a
// failed handshake) if the socket takes it at once: nothing waits for it.
void QtSocketElement::SendTlsGoodbye() {
  tls_->Shutdown();
  out_ += tls_->TakeOutput();
  if (!out_.empty()) (void)::send(fd_, out_.data(), out_.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

void QtSocketElement::Fail(int number, const std::string& text) {
  std::string description = text.empty() ? WinsockErrorText(number) : text;  // `text` may die with the session
  Reset(SocketState::Error);
  Fire("Error", [number, &description](SocketEvents& e, int i) { e.OnError(i, number, description); });
}

// A failure found inside a call (Connect, StartTls, SendData) is reported
// from the event loop, as every other event, so that the caller never sees
// its own handler re-entered.
void QtSocketElement::FailLater(int number, const std::string& text) {
  state_ = SocketState::Error;
  QTimer::singleShot(0, [this, token = Token(), number, text] {
    if (!token.expired()) Fail(number, text);
  });
}

bool QtSocketElement::Fire(const char* event, const std::function<void(SocketEvents&, int)>& call) {
  std::weak_ptr<char> token = Token();
  SocketEvents* events = array_.Events();
  int index = index_;
  if (events) Guard("FRM:MAIN[" + array_.Name() + "_" + event + "]", [&] { call(*events, index); });
  return !token.expired();
}

QtSocketArray::QtSocketArray(std::string name) : name_(std::move(name)) {}

QtSocketArray::~QtSocketArray() {
  elements_.clear();
  for (auto& [id, fd] : pending_) ::close(fd);
}

void QtSocketArray::Load(int index) {
  if (index < 0) Raise(340, name_, "Control array element '" + std::to_string(index) + "' doesn't exist");
  if (Exists(index)) Raise(360, name_, "Object already loaded");
  elements_[index] = std::make_unique<QtSocketElement>(*this, index);
}

void QtSocketArray::Unload(int index) {
  auto it = elements_.find(index);
  if (it == elements_.end())
    Raise(340, name_, "Control array element '" + std::to_string(index) + "' doesn't exist");
  auto element = std::move(it->second);  // destroyed after the map no longer names it
  elements_.erase(it);
}

bool QtSocketArray::Exists(int index) const { return elements_.count(index) != 0; }

SocketControl& QtSocketArray::operator[](int index) {
  auto it = elements_.find(index);
  if (it == elements_.end())
    Raise(340, name_, "Control array element '" + std::to_string(index) + "' doesn't exist");
  return *it->second;
}

void QtSocketArray::SetEvents(SocketEvents* events) { events_ = events; }

intptr_t QtSocketArray::AddPending(int fd) {
  intptr_t id = next_request_++;
  pending_[id] = fd;
  return id;
}

int QtSocketArray::TakePending(intptr_t id) {
  auto it = pending_.find(id);
  if (it == pending_.end()) return -1;
  int fd = it->second;
  pending_.erase(it);
  return fd;
}

void QtSocketArray::DropPending(intptr_t id) {
  int fd = TakePending(id);
  if (fd >= 0) ::close(fd);
}

QtSingleSocket::QtSingleSocket(const std::string& name) : array_(name) { array_.Load(0); }

}  // namespace dorvane
