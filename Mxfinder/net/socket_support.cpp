#include "net/socket_support.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QHostInfo>
#include <QSocketNotifier>
#include <memory>
#include <set>
#include <unordered_map>

#include "net/socket.h"
#include "net/socket_errors.h"
#include "resolver/component_error.h"

namespace mxfinder::MSocketSupport {
namespace {

struct Watch {
  CSocket* owner = nullptr;
  std::unique_ptr<QSocketNotifier> read;
  std::unique_ptr<QSocketNotifier> write;
};

// The per-thread state that stands in for the hidden notification window.
struct Registry {
  QObject context;  // receiver of lookup results
  std::unordered_map<int, Watch> sockets;
  std::unordered_map<int, CSocket*> lookups;
  std::set<int> accepted;
};

Registry& Reg() {
  thread_local Registry registry;
  return registry;
}

// Runs a notification handler; what it throws has no caller to go to.
template <class F>
void Deliver(F&& handler) {
  try {
    handler();
  } catch (...) {
  }
}

CSocket* OwnerOf(int handle) {
  auto it = Reg().sockets.find(handle);
  return it == Reg().sockets.end() ? nullptr : it->second.owner;
}

void LookupDone(const QHostInfo& info) {
  auto it = Reg().lookups.find(info.lookupId());
  if (it == Reg().lookups.end()) return;
  CSocket* owner = it->second;
  Reg().lookups.erase(it);
  if (info.error() != QHostInfo::NoError) {
    int code = info.error() == QHostInfo::HostNotFound ? kWsaHostNotFound : kWsaTryAgain;
    Deliver([&] { owner->PostGetHostEvent("", "", code); });
    return;
  }
  for (const QHostAddress& address : info.addresses()) {
    if (address.protocol() != QAbstractSocket::IPv4Protocol) continue;
    const std::string dotted = address.toString().toStdString();
    Deliver([&] { owner->PostGetHostEvent(dotted, info.hostName().toStdString(), 0); });
    return;
  }
  Deliver([&] { owner->PostGetHostEvent("", "", kWsaNoData); });
}

}  // namespace

int InitWinsockService() {
  if (!QCoreApplication::instance()) {
    throw ComponentError(10091, "MSocketSupport.InitWinsockService",
                         "The underlying network subsystem is not ready for network communication.");
  }
  return kMaxDatagram;
}

void RegisterSocket(int handle, CSocket* owner) {
  Watch& watch = Reg().sockets[handle];
  watch.owner = owner;
  watch.read = std::make_unique<QSocketNotifier>(handle, QSocketNotifier::Read);
  watch.write = std::make_unique<QSocketNotifier>(handle, QSocketNotifier::Write);
  watch.write->setEnabled(false);
  QObject::connect(watch.read.get(), &QSocketNotifier::activated, [handle] {
    if (CSocket* s = OwnerOf(handle)) Deliver([s] { s->ReadReady(); });
  });
  QObject::connect(watch.write.get(), &QSocketNotifier::activated, [handle] {
    if (CSocket* s = OwnerOf(handle)) Deliver([s] { s->WriteReady(); });
  });
}

void UnregisterSocket(int handle) {
  auto it = Reg().sockets.find(handle);
  if (it == Reg().sockets.end()) return;
  // The notifier may be the one whose signal is running: let Qt delete it.
  for (auto* notifier : {it->second.read.release(), it->second.write.release()}) {
    notifier->setEnabled(false);
    notifier->deleteLater();
  }
  Reg().sockets.erase(it);
}

void WatchWrite(int handle, bool on) {
  auto it = Reg().sockets.find(handle);
  if (it != Reg().sockets.end()) it->second.write->setEnabled(on);
}

int ResolveHost(const std::string& host, CSocket* owner) {
  int id = QHostInfo::lookupHost(QString::fromStdString(host), &Reg().context, LookupDone);
  if (id > 0) Reg().lookups[id] = owner;
  return id > 0 ? id : 0;
}

void CancelLookup(int handle) {
  if (Reg().lookups.erase(handle)) QHostInfo::abortHostLookup(handle);
}

void AddAccepted(int handle) { Reg().accepted.insert(handle); }

bool TakeAccepted(int handle) { return Reg().accepted.erase(handle) > 0; }

}  // namespace mxfinder::MSocketSupport
