// MSocketSupport: the shared work of all CSocket objects of a thread. It
// watches their system sockets with Qt socket notifiers, runs host lookups
// without blocking, and hands both back to the right CSocket. Errors thrown
// while a notification is handled are dropped here, so none escapes into
// the event loop.
#pragma once

#include <string>

namespace mxfinder {

class CSocket;

namespace MSocketSupport {

// The largest UDP payload over IPv4.
constexpr int kMaxDatagram = 65507;

// Checks that the calling thread can deliver notifications (a Qt event
// loop exists) and returns kMaxDatagram. Throws ComponentError 10091 with
// the source "MSocketSupport.InitWinsockService" otherwise.
int InitWinsockService();

// Watches `handle` for `owner`: readable always, writable when asked.
void RegisterSocket(int handle, CSocket* owner);
// Stops watching `handle`; nothing when it is not registered.
void UnregisterSocket(int handle);
// Asks (or stops asking) for writable notifications on `handle`.
void WatchWrite(int handle, bool on);

// Starts a forward lookup of `host` for `owner` and returns its handle;
// owner->PostGetHostEvent follows from the event loop.
int ResolveHost(const std::string& host, CSocket* owner);
// Cancels lookup `handle`; its owner hears nothing more.
void CancelLookup(int handle);

// Records a connection accepted by a listening socket until a CSocket
// adopts it with Accept.
void AddAccepted(int handle);
// True, and forgets it, when `handle` was recorded by AddAccepted.
bool TakeAccepted(int handle);

}  // namespace MSocketSupport
}  // namespace mxfinder
