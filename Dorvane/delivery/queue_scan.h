// The outgoing queue: scanning OutBox and binding one waiting file to a
// free outbound slot (whose session then runs in ClientSession), and
// returning deferred files to OutBox when their delay is over or on
// "flush". A file's folder is its state; a file bound to a busy slot is
// in progress and never taken twice.
#pragma once

#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace dorvane {

class CConnexion;
class DeliveryFailure;
class SessionLimits;
class SpoolMoves;
struct Environment;

// What SendOutSmtp did with a file.
enum class Dispatch {
  Started,     // bound to a slot and connecting
  NoFreeSlot,  // all 99 slots busy; the file stays in OutBox
  Skipped,     // settled without a session (no route: deferred or bounced),
               // gone from OutBox, or damaged and moved to Error
};

// Whether a file modified at `modified` is due at `now` with a delay of
// `delay_minutes`.
bool DeferredDue(std::time_t modified, std::time_t now, int delay_minutes);

class QueueScan {
 public:
  QueueScan(Environment& env, SpoolMoves& moves, DeliveryFailure& failure, SessionLimits& limits);

  // Dispatches the first OutBox file that no busy slot is working on (one
  // session per scan). A file settled without a session (damaged: moved to
  // Error; no route: deferred or bounced) does not end the scan. Enables
  // tmrVerifOutBox when nothing was dispatched, including when all 99 slots
  // are busy (the file then waits in OutBox).
  // Does nothing while KeepLocal is on. Guarded ("MOD:MODULE[VerifOutBox]").
  void VerifOutBox();

  // Runs VerifOutBox once the current event is handled. A scan already
  // waiting to run serves every later request until it runs, so a burst of
  // replies costs one scan.
  void PostScan();

  // Binds OutBox file `file` to a free slot, counts the attempt (at most
  // 255), resolves the route of its first recipient's domain and connects to
  // the route's first host; no route: deferral or bounce at once. A file
  // that cannot be read, is too large, or whose text holds a bare CR or LF
  // or a line "." alone goes to Error. Guarded ("MOD:MODULE[SendOutSmtp]").
  Dispatch SendOutSmtp(const std::string& file);

  // Moves every Deferred file older than AttemptDelay minutes (strictly) back
  // to OutBox. Guarded ("MOD:MODULE[VerifDeferred]").
  void VerifDeferred();

  // Moves every Deferred file back to OutBox, whatever its age. Its callers
  // then run VerifOutBox. Guarded ("MOD:MODULE[Flush]").
  void Flush();

  // The ticks of the form's two queue timers. The outbox tick scans unless
  // KeepLocal is on, whatever sessions are in flight; its timer stays on.
  void OutBoxTick();
  void DeferredTick();

 private:
  bool NextCandidate(bool* relisted, std::string* name);
  bool InProgress(const std::string& file);
  bool LoadBound(CConnexion& cnx, const std::string& file, std::string* domain);
  void Connect(int i, CConnexion& cnx);
  void MoveAllDue(bool whatever_age);
  void DbgPlain(const std::string& text);

  Environment& env_;
  SpoolMoves& moves_;
  DeliveryFailure& failure_;
  SessionLimits& limits_;
  // Where the scans are in their pass over OutBox. A scan goes on from the
  // last one instead of listing the folder again, so a queue of N files
  // costs one listing per pass, not one per dispatch (scans run after every
  // command a session sends). A scan that reaches the end lists the folder
  // afresh once: "nothing to send" is only concluded from a whole, fresh
  // listing.
  std::string pass_folder_;  // the OutBox path the names were listed from
  std::vector<std::string> pass_names_;
  size_t pass_next_ = 0;
  bool scan_posted_ = false;
  // Posted scans hold it weakly: one that outlives the queue does nothing.
  std::shared_ptr<char> alive_ = std::make_shared<char>();
};

}  // namespace dorvane
