#include "service/inbound_session.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "base/clock.h"
#include "base/dates.h"
#include "base/event_loop.h"
#include "base/files.h"
#include "base/program.h"
#include "base/runtime_error.h"
#include "config/configuration.h"
#include "log/guard.h"
#include "log/logs.h"
#include "relay/connexion.h"
#include "relay/environment.h"
#include "relay/form.h"
#include "spool/domain_split.h"
#include "spool/free_space.h"
#include "spool/message.h"
#include "spool/random_file.h"
#include "spool/spool_committer.h"
#include "spool/spool_file.h"

namespace dorvane {
namespace {

constexpr std::chrono::seconds kSweepInterval{5};
const char kClosedLine[] = "<FONT COLOR='#FF0000'><B>TCP local fermé</B></FONT><BR>";

bool IsSpare(int n) { return n >= kFirstSpareElement && n < kFirstSpareElement + kSpareElements; }

}  // namespace

InboundSession::InboundSession(Environment& env, SpoolCommitter& committer, std::function<void()> scan)
    : env_(env), committer_(committer), scan_(std::move(scan)) {
  env_.form.Smtp().SetEvents(this);
  timer_ = env_.loop.Every(kSweepInterval, [this] { SweepIdle(); });
}

InboundSession::~InboundSession() { env_.form.Smtp().SetEvents(nullptr); }

// ---- acceptance -----------------------------------------------------------

void InboundSession::OnConnectionRequest(int index, intptr_t request_id) {
  Guard("FRM:MAIN[Smtp_ConnectionRequest]", [&] {
    if (index == 0) Accept(request_id);
  });
}

void InboundSession::Accept(intptr_t request_id) {
  Logs& logs = env_.logs;
  const bool debug = logs.DebugOn();  // the dates are not made for nothing
  if (debug) logs.DbgAdd(GMTDate() + ": IN demande de connexion demandée<BR>");
  if (debug) logs.DbgAdd(GMTDate() + ": Recherche d'une connexion IN libre<BR>");
  int n = env_.pools.FindFreeIn();
  if (n == 0) return RefuseBusy(request_id);
  if (debug) logs.DbgAdd(GMTDate() + ": Connexion IN trouvée: " + std::to_string(n) + "<BR>");
  if (debug) logs.DbgAdd(GMTDate() + ": Chargement connexion IN[" + std::to_string(n) + "]<BR>");
  env_.form.Smtp().Load(n);
  SocketControl& sock = env_.form.Smtp()[n];
  sock.SetLocalPort(0);
  sock.Accept(request_id);

  CConnexion& cnx = env_.pools.In(n);
  cnx.Connexion = static_cast<uint8_t>(n);
  cnx.CnxType = "IN";
  InboundPeer peer{sock.RemoteHost(), sock.RemoteHostIP(), sock.LocalIP()};
  cnx.SrvClient = peer.host.empty() ? peer.ip : peer.host;
  cnx.SetStatus(kInAccepted);
  if (Denied(n)) return Release(n);
  std::string ip = peer.ip;
  slots_.insert_or_assign(n, Slot{InboundDialogue(n, std::move(peer)), ip, {}, ++last_serial_});
  Run(n, SlotsHeldBy(ip) > kMaxSlotsPerAddress ? InboundEvent::kTurnAway : InboundEvent::kGreet);
}

// The relay rule for the client just accepted on `element`: a client that
// may not relay is logged and closed without a word (true).
bool InboundSession::Denied(int element) {
  SocketControl& sock = env_.form.Smtp()[element];
  std::string ip = sock.RemoteHostIP();
  if (RelayAllowed(ip, sock.LocalIP(), env_.settings.running.Relay)) return false;
  env_.logs.MailLogAdd(GMTDate() + " Dorvane/smtplocal[" + std::to_string(element) + "] REJECT Host " + ip +
                       " relay: deny");
  env_.logs.DbgAdd("<FONT COLOR='#FF0000'><B>" + ip + ": DENY RELAY</B></FONT><BR>");
  sock.Close();
  return true;
}

// A slot whose QUIT is answered is not held: it closes as soon as the
// reply is out, which the client may see before this loop does.
int InboundSession::SlotsHeldBy(const std::string& ip) const {
  return static_cast<int>(std::count_if(slots_.begin(), slots_.end(), [&](const auto& s) {
    const int status = s.second.dialogue.status();
    return s.second.ip == ip && status != 0 && status != kInQuit;
  }));
}

void InboundSession::RefuseBusy(intptr_t request_id) {
  int spare = FreeSpare();
  env_.form.Smtp().Load(spare);
  SocketControl& sock = env_.form.Smtp()[spare];
  sock.SetLocalPort(0);
  sock.Accept(request_id);
  if (Denied(spare)) return DropSpare(spare);
  env_.logs.MailLogAdd(GMTDate() + kTooManyLogLine);
  env_.logs.DbgAdd("<FONT COLOR='#FF0000'><B>Aucune connexion IN libre</B></FONT><BR>");
  spares_[spare] = env_.clock.Steady();
  sock.SendData(kTooManyReply);
}

// A spare element to carry a 421; when all are busy, the one taken first
// is dropped for it.
int InboundSession::FreeSpare() {
  int spare = kFirstSpareElement;
  while (IsSpare(spare) && env_.form.Smtp().Exists(spare)) ++spare;
  if (IsSpare(spare)) return spare;
  auto oldest =
      std::min_element(spares_.begin(), spares_.end(), [](auto& a, auto& b) { return a.second < b.second; });
  spare = oldest == spares_.end() ? kFirstSpareElement : oldest->first;
  DropSpare(spare);
  return spare;
}

void InboundSession::DropSpare(int index) {
  spares_.erase(index);
  if (!env_.form.Smtp().Exists(index)) return;
  env_.form.Smtp()[index].Close();
  env_.form.Smtp().Unload(index);
}

// ---- socket events --------------------------------------------------------

void InboundSession::OnDataArrival(int index, long bytes) {
  (void)bytes;
  Guard("FRM:MAIN[Smtp_DataArrival]", [&] {
    SocketArray& smtp = env_.form.Smtp();
    if (!smtp.Exists(index)) return;
    std::string data = smtp[index].GetData();
    if (slots_.count(index)) Run(index, InboundEvent::kBytes, data);  // else nobody to talk to: dropped
  });
}

void InboundSession::OnSendComplete(int index) {
  Guard("FRM:MAIN[Smtp_SendComplete]", [&] {
    if (IsSpare(index)) return DropSpare(index);
    Run(index, InboundEvent::kFlushed);
    auto it = slots_.find(index);
    if (it != slots_.end() && it->second.gone) PeerGone(index);  // it left while its message was written
  });
}

void InboundSession::OnClose(int index) {
  Guard("FRM:MAIN[Smtp_Close]", [&] {
    if (IsSpare(index)) return DropSpare(index);
    PeerGone(index);
  });
}

void InboundSession::OnError(int index, int number, const std::string& description) {
  Guard("FRM:MAIN[Smtp_Error]", [&] {
    if (index == 0) return;  // the listener: nothing to release
    env_.logs.DbgAdd("<FONT COLOR='#FF0000'>Smtp local[" + std::to_string(index) + "]: erreur " +
                     std::to_string(number) + " " + HtmlEscape(description) + "</FONT><BR>");
    if (IsSpare(index)) return DropSpare(index);
    Run(index, InboundEvent::kPeerGone);  // a failed connection takes no reply
  });
}

// A client that closed its side while its message is written may still read
// the outcome: it keeps its slot until then.
void InboundSession::PeerGone(int n) {
  auto it = slots_.find(n);
  if (it != slots_.end() && it->second.writing) {
    it->second.gone = true;
    return;
  }
  Run(n, InboundEvent::kPeerGone);
}

void InboundSession::SweepIdle() {
  Guard("FRM:MAIN[tmrInboundIdle_Timer]", [&] {
    TimePoint now = env_.clock.Steady();
    std::vector<int> due;
    for (const auto& [n, slot] : slots_)
      if (now >= slot.deadline) due.push_back(n);
    for (int n : due) Run(n, InboundEvent::kTimeUp);
    std::vector<int> expired;
    for (const auto& [index, taken] : spares_)
      if (now - taken >= kCloseGrace) expired.push_back(index);
    for (int index : expired) DropSpare(index);
  });
}

// ---- the dialogue's actions -----------------------------------------------

// Steps slot n's dialogue and does what it asks; the slot's Status follows
// the dialogue's state before anything is done.
void InboundSession::Run(int n, InboundEvent event, std::string_view bytes) {
  auto it = slots_.find(n);
  if (it == slots_.end()) return;
  Slot& slot = it->second;
  CConnexion& cnx = env_.pools.In(n);
  slot.dialogue.SetDebug(env_.logs.DebugOn());
  std::vector<InboundAction> actions = slot.dialogue.Step(event, bytes, cnx.Message());
  if (slot.dialogue.status() != 0) cnx.SetStatus(slot.dialogue.status());
  for (const InboundAction& action : actions) {
    if (action.kind == InboundAction::kClose) return CloseAndRelease(n);
    Perform(n, slot, action);
  }
}

void InboundSession::Perform(int n, Slot& slot, const InboundAction& action) {
  switch (action.kind) {
    case InboundAction::kSend:
      return env_.form.Smtp()[n].SendData(action.text);
    case InboundAction::kMailLog:
      return env_.logs.MailLogAdd(GMTDate() + action.text);
    case InboundAction::kDebug:
      return env_.logs.DbgAdd(action.text, action.debug_kind);
    case InboundAction::kLimit:
      slot.deadline = env_.clock.Steady() + action.limit;
      return;
    case InboundAction::kScan:
      if (scan_) env_.loop.Post(scan_);
      return;
    case InboundAction::kQueue:
      return Queue(n, slot);
    case InboundAction::kClose:
      return CloseAndRelease(n);
  }
}

// Names and encodes slot n's message here and hands the writing to the
// committer; its outcome steps the dialogue.
void InboundSession::Queue(int n, Slot& slot) {
  CMessage& msg = env_.pools.In(n).Message();
  if (!OutBoxHasRoom(env_.files, msg)) return Run(n, InboundEvent::kNoRoom);
  std::vector<SpoolFile> files;
  try {
    files = OutBoxFiles(env_.files, env_.logs, env_.clock, msg, writing_);
  } catch (const RuntimeError& e) {
    return Run(n, InboundEvent::kQueueFailed, e.description());
  }
  std::vector<std::string> names;
  for (const SpoolFile& file : files) names.push_back(FileNameOf(file.path));
  writing_.insert(names.begin(), names.end());
  slot.writing = true;
  std::string().swap(msg.Data);  // encoded: not needed in memory twice
  committer_.Commit(std::move(files), [this, alive = std::weak_ptr<char>(alive_), n, serial = slot.serial,
                                       names](const std::string& error) {
    if (alive.expired()) return;
    Guard("FRM:MAIN[Smtp_DataArrival]", [&] { Committed(n, serial, names, error); });
  });
}

// The outcome of the write of slot n's message, started for client `serial`.
// A client timed out meanwhile, or replaced, hears nothing of it.
void InboundSession::Committed(int n, uint64_t serial, const std::vector<std::string>& names,
                               const std::string& error) {
  for (const std::string& name : names) writing_.erase(name);
  if (error.empty() && added_)
    for (const std::string& name : names) added_(name);
  auto it = slots_.find(n);
  Slot* slot = it != slots_.end() && it->second.serial == serial ? &it->second : nullptr;
  if (slot) slot->writing = false;
  // A client that left meanwhile is closed once its reply has gone out.
  if (slot && slot->dialogue.status() != kInQuit)
    return Run(n, error.empty() ? InboundEvent::kQueued : InboundEvent::kQueueFailed, error);
  if (error.empty() && scan_) env_.loop.Post(scan_);  // kept all the same
  if (slot && slot->gone) Run(n, InboundEvent::kPeerGone);
}

// ---- end of a connection --------------------------------------------------

void InboundSession::CloseAndRelease(int n) {
  if (env_.form.Smtp().Exists(n)) env_.form.Smtp()[n].Close();
  env_.logs.DbgAdd(kClosedLine);
  slots_.erase(n);
  Release(n);
}

// Frees inbound slot n: Status 0, message cleared, socket element unloaded,
// connections-view row emptied.
void InboundSession::Release(int n) {
  Guard("MOD:MODConnexion[ReleaseSmtpLocal]", [&] {
    CConnexion& cnx = env_.pools.In(n);
    cnx.SetStatus(0);
    cnx.Message().MClear();
    SocketArray& smtp = env_.form.Smtp();
    if (smtp.Exists(n)) smtp.Unload(n);
    env_.logs.DbgAdd("<FONT face='Verdana' size='2'>Release connexion in: " + std::to_string(n) +
                     "</FONT><BR>");
    env_.form.Shell().RefreshConnection("IN", n);
  });
}

}  // namespace dorvane
