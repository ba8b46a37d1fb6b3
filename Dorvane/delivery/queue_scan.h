// The outgoing queue: scanning OutBox and binding one waiting file to a
// free outbound slot (whose session then runs in ClientSession), and
// returning deferred files to OutBox when their delay is over or on
// "flush". A file's folder is its state; a file bound to a busy slot is
// in progress and never taken twice.
#pragma once

#include <ctime>
#include <string>

namespace dorvane {

// Dispatches the first OutBox file that no busy slot is working on (one
// session per scan). A file settled without a session (damaged: moved to
// Error; no route: deferred or bounced) does not end the scan. Enables
// tmrVerifOutBox when nothing was dispatched, including when all 99 slots
// are busy (the file then waits in OutBox).
// Does nothing while KeepLocal is on. Guarded ("MOD:MODULE[VerifOutBox]").
void VerifOutBox();

// What SendOutSmtp did with a file.
enum class Dispatch {
  Started,     // bound to a slot and connecting
  NoFreeSlot,  // all 99 slots busy; the file stays in OutBox
  Skipped,     // settled without a session (no route: deferred or bounced),
               // gone from OutBox, or damaged and moved to Error
};

// Binds OutBox file `file` to a free slot, counts the attempt (at most 255),
// resolves the route of its first recipient's domain and connects to the
// route's first host; no route: deferral or bounce at once. A file that
// cannot be read, is too large, or whose text holds a bare CR or LF or a
// line "." alone goes to Error. Guarded
// ("MOD:MODULE[SendOutSmtp]").
Dispatch SendOutSmtp(const std::string& file);

// Moves every Deferred file older than AttemptDelay minutes (strictly) back
// to OutBox. Guarded ("MOD:MODULE[VerifDeferred]").
void VerifDeferred();
// Whether a file modified at `modified` is due at `now` with a delay of
// `delay_minutes`.
bool DeferredDue(std::time_t modified, std::time_t now, int delay_minutes);

// Moves every Deferred file back to OutBox, whatever its age. Its callers
// then run VerifOutBox. Guarded ("MOD:MODULE[Flush]").
void Flush();

// The ticks of the form's two queue timers. The outbox tick scans unless
// KeepLocal is on or a scan is under way, whatever sessions are in flight;
// its timer stays on.
void tmrVerifOutBox_Timer();
void tmrVerifDeferred_Timer();

}  // namespace dorvane
