// A fake form for unit tests: socket arrays that record what the code under
// test does with each element (load, accept, send, close, unload) and let the
// test play the network (push received bytes, fire events); timers that
// record their enabled flag; a shell view that records connection-row
// refreshes and tray notices.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/socket_control.h"
#include "relay/form.h"

namespace dorvane::fake {

// The far end of a connection accepted on an element.
struct FakePeer {
  std::string remote_host;             // empty: no name known
  std::string remote_ip = "127.0.0.1";
  std::string local_ip = "127.0.0.1";  // this computer's address on the link
  int remote_port = 40000;
};

class FakeSocketArray;

class FakeSocket : public SocketControl {
 public:
  FakeSocket(FakeSocketArray* owner, int index) : owner_(owner), index_(index) {}

  void SetProtocol(int protocol) override { protocol_ = protocol; }
  int Protocol() const override { return protocol_; }
  void SetLocalPort(int port) override { local_port_ = port; }
  int LocalPort() const override { return local_port_; }
  void SetRemoteHost(const std::string& host) override { peer.remote_host = host; }
  std::string RemoteHost() const override { return peer.remote_host; }
  void SetRemotePort(int port) override { peer.remote_port = port; }
  int RemotePort() const override { return peer.remote_port; }
  std::string RemoteHostIP() const override { return peer.remote_ip; }
  std::string LocalIP() const override { return peer.local_ip; }
  SocketState State() const override { return state; }

  int Listen() override;
  void Accept(intptr_t request_id) override;
  void Connect() override;
  void SendData(const std::string& bytes) override;
  std::string GetData() override;
  void Close() override;
  void StartTls(const TlsOptions& options) override;
  std::string TlsDescription() const override { return tls_description; }

  FakePeer peer;
  SocketState state = SocketState::Closed;
  std::string inbox;       // bytes received and not yet taken by GetData
  int listen_result = 0;   // what Listen() returns
  std::vector<TlsOptions> tls_starts;  // every StartTls, in order
  std::string tls_description;         // set by FireTlsReady

 private:
  FakeSocketArray* owner_;
  int index_;
  int protocol_ = sckTCPProtocol;
  int local_port_ = 0;
};

class FakeSocketArray : public SocketArray {
 public:
  void Load(int index) override;
  void Unload(int index) override;
  bool Exists(int index) const override { return elements_.count(index) != 0; }
  SocketControl& operator[](int index) override { return At(index); }
  void SetEvents(SocketEvents* events) override { events_ = events; }

  // Element `index` with its fake's fields; RuntimeError 340 when absent.
  FakeSocket& At(int index);
  // The peer that Accept(request_id) connects the element to.
  void QueuePeer(intptr_t request_id, FakePeer peer) { peers_[request_id] = std::move(peer); }

  // The network side. Each returns false (and fires nothing) when the
  // element does not exist, as a real array sends no event for it.
  bool FireConnectionRequest(intptr_t request_id, int index = 0);
  bool Receive(int index, const std::string& bytes);  // queues bytes + DataArrival
  bool FireConnect(int index);
  bool FireSendComplete(int index);
  bool FireClose(int index);
  bool FireError(int index, int number, const std::string& description);
  // Sets the element's TLS description, then fires TlsReady.
  bool FireTlsReady(int index, const std::string& description = "TLSv1.3 TLS_AES_256_GCM_SHA384");

  // Every SendData of element `index` since its last Load, kept after Unload.
  const std::vector<std::string>& Sent(int index) const;
  // The same, joined.
  std::string SentText(int index) const;
  // The last SendData of element `index` ("" when none).
  std::string LastSent(int index) const;

  int LoadCount(int index) const { return Count(loads_, index); }
  int UnloadCount(int index) const { return Count(unloads_, index); }
  int CloseCount(int index) const { return Count(closes_, index); }
  int ConnectCount(int index) const { return Count(connects_, index); }
  // The request accepted by element `index` (-1 when none).
  intptr_t AcceptedRequest(int index) const;
  // Operations in order: "load 3", "accept 3", "send 3", "close 3", ...
  const std::vector<std::string>& Log() const { return log_; }

 private:
  friend class FakeSocket;
  static int Count(const std::map<int, int>& m, int index);
  void Note(const std::string& op, int index) { log_.push_back(op + " " + std::to_string(index)); }

  SocketEvents* events_ = nullptr;
  std::map<int, std::unique_ptr<FakeSocket>> elements_;
  std::map<intptr_t, FakePeer> peers_;
  std::map<int, std::vector<std::string>> sent_;
  std::map<int, int> loads_, unloads_, closes_, connects_;
  std::map<int, intptr_t> accepted_;
  std::vector<std::string> log_;
};

class FakeTimer : public FormTimer {
 public:
  void SetEnabled(bool enabled) override { enabled_ = enabled, ++set_calls; }
  bool Enabled() const override { return enabled_; }
  int set_calls = 0;

 private:
  bool enabled_ = false;
};

class FakeShellView : public ShellView {
 public:
  void ShowServiceState(bool started, const std::string& tooltip) override;
  void SetStartStopEnabled(bool start_enabled, bool stop_enabled) override;
  void RefreshConnection(const std::string& type, int slot) override;
  void ShowTrayNotice(const std::string& title, const std::string& text) override {
    tray_notices.push_back(title + ": " + text);
  }

  std::vector<std::pair<std::string, int>> refreshes;  // (type, slot) in order
  std::vector<std::string> tray_notices;               // "title: text" in order
  bool started = false;
  std::string tooltip;
  bool start_enabled = true, stop_enabled = false;
};

class FakeForm : public Form {
 public:
  SocketArray& Smtp() override { return smtp; }
  SocketArray& SmtpDistant() override { return distant; }
  FormTimer& tmrVerifOutBox() override { return outbox_timer; }
  FormTimer& tmrVerifDeferred() override { return deferred_timer; }
  ShellView& Shell() override { return shell; }

  FakeSocketArray smtp;
  FakeSocketArray distant;
  FakeTimer outbox_timer;
  FakeTimer deferred_timer;
  FakeShellView shell;
};

}  // namespace dorvane::fake
