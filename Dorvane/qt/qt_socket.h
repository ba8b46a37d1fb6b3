// The real stream socket control: elements over non-blocking BSD sockets
// driven by QSocketNotifier, with QTcpServer for the listening element.
// Raw sockets (rather than QTcpSocket) let a reset by the peer reach the
// sessions as error 10054 instead of looking like an orderly close.
// TLS (StartTls) runs over the same descriptors and notifiers: the read
// path feeds a TlsChannel and the write path sends what it gives, so a
// handshake never blocks and a reset under TLS is still 10054.
//
// Every event is delivered from the event loop (never from inside the call
// that caused it) and runs under Guard() with the trace name
// "FRM:MAIN[" + array name + "_" + event + "]".
#pragma once

#include <map>
#include <memory>
#include <string>

#include "base/socket_control.h"
#include "log/guard.h"

namespace dorvane {

class QtSocketElement;

// Maps an errno value to the Windows Sockets number the sessions expect.
int WinsockFromErrno(int err);

class QtSocketArray : public SocketArray {
 public:
  // `name` ("Smtp", "SmtpDistant", "Update") prefixes the trace names.
  explicit QtSocketArray(std::string name);
  ~QtSocketArray() override;

  void Load(int index) override;
  void Unload(int index) override;
  bool Exists(int index) const override;
  SocketControl& operator[](int index) override;
  void SetEvents(SocketEvents* events) override;

  // Elements' plumbing: the handler (may be null) and the trace-name prefix.
  SocketEvents* Events() const { return events_; }
  const std::string& Name() const { return name_; }

  // Pending connections of the listening element, by request id. Accept on
  // any element of the array takes one; Take returns -1 for an unknown id.
  intptr_t AddPending(int fd);
  int TakePending(intptr_t id);
  // Closes a request nobody accepted while its event ran.
  void DropPending(intptr_t id);

 private:
  std::string name_;
  SocketEvents* events_ = nullptr;
  std::map<int, std::unique_ptr<QtSocketElement>> elements_;
  std::map<intptr_t, int> pending_;  // request id -> accepted descriptor
  intptr_t next_request_ = 1;
};

// The single control `Update`: an array of one element, index 0.
class QtSingleSocket {
 public:
  explicit QtSingleSocket(const std::string& name);
  SocketControl& Control() { return array_[0]; }
  void SetEvents(SocketEvents* events) { array_.SetEvents(events); }

 private:
  QtSocketArray array_;
};

}  // namespace dorvane
