#include "delivery/queue_scan.h"

#include <algorithm>
#include <string_view>

#include "base/clock.h"
#include "base/event_loop.h"
#include "base/runtime_error.h"
#include "config/configuration.h"
#include "delivery/delivery_failure.h"
#include "delivery/outbound_slot.h"
#include "delivery/session_limits.h"
#include "delivery/session_states.h"
#include "delivery/spool_moves.h"
#include "delivery/wire_text.h"
#include "log/guard.h"
#include "log/logs.h"
#include "mx/cdns.h"
#include "relay/connexion.h"
#include "relay/environment.h"
#include "relay/form.h"
#include "spool/domain_split.h"
#include "spool/message.h"
#include "spool/spool_file.h"

namespace dorvane {

QueueScan::QueueScan(Environment& env, SpoolMoves& moves, DeliveryFailure& failure, SessionLimits& limits)
    : env_(env), moves_(moves), failure_(failure), limits_(limits) {
  moves_.OnArrival([this](const char* folder, const std::string& name) { Arrived(folder, name); });
}

void QueueScan::Added(const std::string& name) { pending_.Add(name); }

void QueueScan::Delivered(int i) { bound_.at(static_cast<size_t>(i)).clear(); }

// A Deferred arrival keeps its file's own time: a rename does not change it.
void QueueScan::Arrived(const char* folder, const std::string& name) {
  if (name.empty()) return;
  if (std::string_view(folder) == kOutBox) return pending_.Add(name);
  if (std::string_view(folder) != kDeferred) return;
  if (std::optional<std::time_t> modified = DeferredTime(name)) deferred_.Add(*modified, name);
}

std::optional<std::time_t> QueueScan::DeferredTime(const std::string& name) {
  std::optional<long long> modified = moves_.Time(kDeferred, name);
  if (!modified) return std::nullopt;
  return static_cast<std::time_t>(*modified);
}

void QueueScan::ListOutBox() {
  for (const std::string& name : moves_.Names(kOutBox)) pending_.Add(name);
}

// No name can have come or gone while a folder keeps the time it had at its
// last listing. That time is trusted only when it is two seconds older than
// the listing (file times lag the clock a little, and a change in the same
// second would leave it as it was).
void QueueScan::ListFolder(const char* folder, bool whatever, FolderTime* seen, void (QueueScan::*list)()) {
  const std::optional<long long> time = moves_.Time(folder, "");
  if (!whatever && time && *seen && **seen == *time) return;
  (this->*list)();
  *seen = time && *time + 2 <= static_cast<long long>(env_.clock.Now()) ? time : std::nullopt;
}

void QueueScan::ReconcileDeferred() {
  deferred_.Reconcile(moves_.Names(kDeferred),
                      [this](const std::string& name) { return DeferredTime(name); });
}

void QueueScan::ListBoth(bool whatever) {
  listed_at_ = env_.clock.Steady();
  ListFolder(kOutBox, whatever, &outbox_time_, &QueueScan::ListOutBox);
  ListFolder(kDeferred, whatever, &deferred_time_, &QueueScan::ReconcileDeferred);
}

void QueueScan::Relist() {
  Guard("MOD:MODULE[ListQueue]", [this] { ListBoth(true); });
}

void QueueScan::RelistWhenDue() {
  if (listed_at_ && env_.clock.Steady() - *listed_at_ < kFullListing) return;
  ListBoth(false);
}

void QueueScan::ScanNow() {
  Guard("MOD:MODULE[VerifOutBox]", [this] {
    ListFolder(kOutBox, true, &outbox_time_, &QueueScan::ListOutBox);
    VerifOutBox();
  });
}

void QueueScan::DbgPlain(const std::string& text) {
  if (env_.logs.DebugOn())
    env_.logs.DbgAdd("<FONT face='Verdana' size='2'>" + LogStamp(env_.clock) + ": " + text + "</FONT><BR>");
}

// A file bound to a busy slot is being delivered.
bool QueueScan::InProgress(const std::string& file) {
  for (int i = 0; i <= kLastSlot; ++i) {
    const CConnexion& cnx = env_.pools.Out(i);
    if (cnx.Status() != kOutFree && cnx.CurrentOutFile == file) return true;
  }
  return false;
}

// Reads the message of OutBox `file` into slot i and gives the domain of
// its first recipient, the one route for all of them. An unreadable file,
// one without a usable recipient, or one whose text could end the DATA
// phase early goes to Error: false.
bool QueueScan::LoadBound(CConnexion& cnx, const std::string& file, std::string* domain) {
  std::string why;
  try {
    cnx.Message().MOpen(env_.files, env_.logs, SpoolPath(kOutBox, file));
    if (cnx.Message().MRcptToCount() > 0 && IsWireSafe(cnx.Message().Data)) {
      *domain = GetDomain(cnx.Message().RcptTo(1));
      return true;
    }
    why = cnx.Message().MRcptToCount() > 0 ? "a bare CR or LF, or a line \".\" in its text" : "no recipient";
  } catch (const RuntimeError& e) {
    why = e.description();
  }
  moves_.PutAsideUnreadable(kOutBox, file, why);
  return false;
}

void QueueScan::Connect(int i, CConnexion& cnx) {
  CDns& dns = cnx.DNS();
  cnx.CnxType = "OUT";
  cnx.SrvClient = dns.MX.Host(1);
  cnx.SetStatus(kOutConnecting);
  dns.CurrentMX = 1;
  DbgPlain("Chargement connexion OUT[" + std::to_string(i) + "]");
  SocketArray& distant = env_.form.SmtpDistant();
  if (distant.Exists(i)) distant.Unload(i);  // a slot's element never outlives its session
  distant.Load(i);
  distant[i].SetRemoteHost(dns.MX.Host(1));
  // The smarthost listens where the settings say; exchangers on 25.
  distant[i].SetRemotePort(env_.settings.file.SmtpServerDefined ? env_.settings.running.SmtpPort : 25);
  distant[i].Connect();
  limits_.StartConnect(i);
}

// A slot given a file earlier that is free now, or on another file, has
// ended that file's session; what is left of it in OutBox waits again.
void QueueScan::TakeBackEnded() {
  for (int i = 1; i <= kLastSlot; ++i) {
    std::string& file = bound_[static_cast<size_t>(i)];
    if (file.empty()) continue;
    const CConnexion& cnx = env_.pools.Out(i);
    if (cnx.Status() != kOutFree && cnx.CurrentOutFile == file) continue;
    pending_.Add(file);
    file.clear();
  }
}

// Only the oldest files can be due. Each is checked against its file: one
// changed since it was learnt is judged by its new time.
void QueueScan::MoveDue() {
  const int delay = std::min(env_.settings.running.AttemptDelay, kMaxAttemptDelay);
  const std::time_t now = env_.clock.Now();
  for (const DeferredIndex::Entry* oldest = deferred_.Oldest();
       oldest && DeferredDue(oldest->first, now, delay); oldest = deferred_.Oldest()) {
    DeferredIndex::Entry entry = deferred_.TakeOldest();
    std::optional<std::time_t> modified = DeferredTime(entry.second);
    if (!modified) continue;  // gone
    if (*modified != entry.first) {
      deferred_.Add(*modified, std::move(entry.second));
      continue;
    }
    moves_.MoveIfThere(entry.second, kDeferred, kOutBox);
  }
}

void QueueScan::VerifOutBox() {
  Guard("MOD:MODULE[VerifOutBox]", [this] {
    if (env_.settings.running.KeepLocal) return;
    RelistWhenDue();
    TakeBackEnded();
    std::string name;
    // Names put back during this scan (a bounce written in place) wait for
    // the next one: each scan's work is bounded by what it found waiting.
    for (size_t left = pending_.size(); left > 0 && pending_.Take(&name); --left) {
      if (InProgress(name)) continue;  // its session's end gives it back
      DbgPlain("OUT demande d'envoi demandée (" + name + ")");
      Dispatch done = SendOutSmtp(name);
      if (done == Dispatch::Started) return;
      if (done == Dispatch::NoFreeSlot) {
        pending_.PutBackFirst(name);
        break;
      }
    }
    env_.form.tmrVerifOutBox().SetEnabled(true);
  });
}

void QueueScan::PostScan() {
  if (scan_posted_) return;
  scan_posted_ = true;
  env_.loop.Post([this, alive = std::weak_ptr<char>(alive_)] {
    if (alive.expired()) return;
    scan_posted_ = false;
    VerifOutBox();
  });
}

Dispatch QueueScan::SendOutSmtp(const std::string& file) {
  return Guard("MOD:MODULE[SendOutSmtp]", [&] {
    // Names are learnt earlier: a file delivered or taken away since is gone.
    if (!moves_.Exists(kOutBox, file)) return Dispatch::Skipped;
    DbgPlain("Recherche d'une connexion OUT libre");
    int i = env_.pools.FindFreeOut();
    if (i == 0) return Dispatch::NoFreeSlot;
    DbgPlain("Connexion OUT trouvée: " + std::to_string(i));
    CConnexion& cnx = env_.pools.Out(i);
    cnx.Connexion = static_cast<uint8_t>(i);
    cnx.CnxType = "OUT";
    cnx.SetStatus(kOutReserved);
    cnx.CurrentOutFile = file;
    cnx.CurrentRcptTo = 0;
    std::string domain;
    if (!LoadBound(cnx, file, &domain)) {
      cnx.SetStatus(kOutFree);
      return Dispatch::Skipped;
    }
    CMessage& message = cnx.Message();
    if (message.Essai < 255) ++message.Essai;  // a byte: the 256th dispatch keeps 255
    cnx.DNS().ClearMx();  // a route left by an earlier no-route case must not leak in
    cnx.DNS().ResolveMx(domain);
    if (cnx.DNS().MX.Host(0) == kNoRoute || cnx.DNS().MX.Count() == 0) {
      failure_.NoRoute(i, domain);
      return Dispatch::Skipped;  // settled without a session: the scan goes on
    }
    Connect(i, cnx);
    bound_[static_cast<size_t>(i)] = file;
    return Dispatch::Started;
  });
}

bool DeferredDue(std::time_t modified, std::time_t now, int delay_minutes) {
  return static_cast<long long>(now - modified) > static_cast<long long>(delay_minutes) * 60;
}

void QueueScan::VerifDeferred() {
  Guard("MOD:MODULE[VerifDeferred]", [this] {
    RelistWhenDue();
    MoveDue();
  });
}

void QueueScan::Flush() {
  Guard("MOD:MODULE[Flush]", [this] {
    for (const std::string& name : moves_.Names(kDeferred)) moves_.MoveIfThere(name, kDeferred, kOutBox);
    deferred_.Clear();
  });
}

void QueueScan::OutBoxTick() {
  // The timer stays on: a session that waits on a silent exchanger must not
  // hold back the files behind it.
  Guard("FRM:MAIN[tmrVerifOutBox_Timer]", [this] { VerifOutBox(); });
}

void QueueScan::DeferredTick() {
  Guard("FRM:MAIN[tmrVerifDeferred_Timer]", [this] { VerifDeferred(); });
}

}  // namespace dorvane
