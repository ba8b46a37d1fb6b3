// The outgoing queue: scanning OutBox and binding one waiting file to a
// free outbound slot (whose session then runs in ClientSession), and
// returning deferred files to OutBox when their delay is over or on
// "flush". A file's folder is its state; a file bound to a busy slot is
// in progress and never taken twice.
//
// A tick with nothing to do touches no file: the scan works from what it
// was told (files queued by the listener, moved or written by the delivery
// side, sessions that ended) and from a full listing of both folders at
// most once every kFullListing, which also catches what other programs
// and the user put in or took out (a folder whose own time has not moved
// since is not listed again).
#pragma once

#include <array>
#include <chrono>
#include <ctime>
#include <memory>
#include <optional>
#include <string>

#include "delivery/queue_index.h"
#include "relay/connexion.h"

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

// How old the last full listing of OutBox and Deferred may grow before a
// scan lists them again.
constexpr std::chrono::seconds kFullListing{60};

class QueueScan {
 public:
  // Hears of every file that `moves` puts in OutBox or Deferred from now on.
  QueueScan(Environment& env, SpoolMoves& moves, DeliveryFailure& failure, SessionLimits& limits);

  // OutBox file `name` was just queued by this program (the listener): the
  // next scan takes it without listing the folder.
  void Added(const std::string& name);

  // The file of outbound slot i was delivered and removed: its session's
  // end leaves nothing to take back.
  void Delivered(int i);

  // Lists OutBox afresh, then scans: what the "scan" and "flush" commands
  // run, since another program (the local mail command, `retry`) may have
  // queued mail. Guarded ("MOD:MODULE[VerifOutBox]").
  void ScanNow();

  // Lists OutBox and Deferred afresh (start, reload): names no longer there
  // are forgotten, new ones are learnt (a Deferred file's time read once).
  // Guarded ("MOD:MODULE[ListQueue]").
  void Relist();

  // Dispatches the first file known to wait in OutBox that no busy slot is
  // working on (one session per scan), after a full listing when the last
  // one is kFullListing old. A file settled without a session (damaged:
  // moved to Error; no route: deferred or bounced) does not end the scan.
  // Enables tmrVerifOutBox when nothing was dispatched, including when all
  // 99 slots are busy (the file then stays first).
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
  // to OutBox, after a full listing when the last one is kFullListing old.
  // Only the files due are looked at; a file gone meanwhile is passed over.
  // Guarded ("MOD:MODULE[VerifDeferred]").
  void VerifDeferred();

  // Lists Deferred and moves every file back to OutBox, whatever its age.
  // Its callers then run ScanNow. Guarded ("MOD:MODULE[Flush]").
  void Flush();

  // The ticks of the form's two queue timers. The outbox tick scans unless
  // KeepLocal is on, whatever sessions are in flight; its timer stays on.
  void OutBoxTick();
  void DeferredTick();

 private:
  void Arrived(const char* folder, const std::string& name);
  // The modification time of Deferred file `name`; nullopt when it is gone.
  std::optional<std::time_t> DeferredTime(const std::string& name);
  using FolderTime = std::optional<long long>;
  // Lists `folder` through `list` unless `whatever` is false and its time
  // is still `seen`, the one recorded at its last listing (nullopt: none
  // to trust); records the time anew.
  void ListFolder(const char* folder, bool whatever, FolderTime* seen, void (QueueScan::*list)());
  void ListBoth(bool whatever);
  void RelistWhenDue();
  void ListOutBox();
  void ReconcileDeferred();
  void TakeBackEnded();
  void MoveDue();
  bool InProgress(const std::string& file);
  bool LoadBound(CConnexion& cnx, const std::string& file, std::string* domain);
  void Connect(int i, CConnexion& cnx);
  void DbgPlain(const std::string& text);

  Environment& env_;
  SpoolMoves& moves_;
  DeliveryFailure& failure_;
  SessionLimits& limits_;
  DeferredIndex deferred_;
  PendingNames pending_;
  // The file each slot was given by this scan, until its session's end is
  // noticed: the file then waits again if it is still in OutBox.
  std::array<std::string, kLastSlot + 1> bound_;
  std::optional<std::chrono::steady_clock::time_point> listed_at_;  // last full listing
  FolderTime outbox_time_, deferred_time_;
  bool scan_posted_ = false;
  // Posted scans hold it weakly: one that outlives the queue does nothing.
  std::shared_ptr<char> alive_ = std::make_shared<char>();
};

}  // namespace dorvane
