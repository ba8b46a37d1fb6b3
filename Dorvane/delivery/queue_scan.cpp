#include "delivery/queue_scan.h"

#include "base/dates.h"
#include "base/runtime_error.h"
#include "config/configuration.h"
#include "delivery/delivery_failure.h"
#include "delivery/session_limits.h"
#include "delivery/session_states.h"
#include "delivery/spool_moves.h"
#include "delivery/wire_text.h"
#include "log/guard.h"
#include "log/logs.h"
#include "mx/cdns.h"
#include "relay/connexion.h"
#include "relay/form.h"
#include "spool/domain_split.h"
#include "spool/message.h"
#include "spool/spool_file.h"

namespace dorvane {
namespace {

void DbgPlain(const std::string& text) {
  DbgAdd("<FONT face='Verdana' size='2'>" + GMTDate() + ": " + text + "</FONT><BR>");
}

// A file bound to a busy slot is being delivered.
bool InProgress(const std::string& file) {
  for (int i = 0; i <= kLastSlot; ++i) {
    const CConnexion& cnx = CnxOut(i);
    if (cnx.Status() != kOutFree && cnx.CurrentOutFile == file) return true;
  }
  return false;
}

// Reads the message of OutBox `file` into slot i and gives the domain of
// its first recipient, the one route for all of them. An unreadable file,
// one without a usable recipient, or one whose text could end the DATA
// phase early goes to Error: false.
bool LoadBound(CConnexion& cnx, const std::string& file, std::string* domain) {
  std::string why;
  try {
    cnx.Message().MOpen(SpoolPath(kOutBox, file));
    if (cnx.Message().MRcptToCount() > 0 && IsWireSafe(cnx.Message().Data)) {
      *domain = GetDomain(cnx.Message().RcptTo(1));
      return true;
    }
    why = cnx.Message().MRcptToCount() > 0 ? "a bare CR or LF, or a line \".\" in its text" : "no recipient";
  } catch (const RuntimeError& e) {
    why = e.description();
  }
  PutAsideUnreadable(kOutBox, file, why);
  return false;
}

void Connect(int i, CConnexion& cnx) {
  CDns& dns = cnx.DNS();
  cnx.CnxType = "OUT";
  cnx.SrvClient = dns.MX.Host(1);
  cnx.SetStatus(kOutConnecting);
  dns.CurrentMX = 1;
  DbgPlain("Chargement connexion OUT[" + std::to_string(i) + "]");
  SocketArray& distant = CurrentForm().SmtpDistant();
  if (distant.Exists(i)) distant.Unload(i);  // a slot's element never outlives its session
  distant.Load(i);
  distant[i].SetRemoteHost(dns.MX.Host(1));
  distant[i].SetRemotePort(25);
  distant[i].Connect();
  StartConnectLimit(i);
}

// Where the scans are in their pass over OutBox. A scan goes on from the
// last one instead of listing the folder again, so a queue of N files costs
// one listing per pass, not one per dispatch (scans run after every command
// a session sends). A scan that reaches the end lists the folder afresh
// once: "nothing to send" is only concluded from a whole, fresh listing.
struct OutBoxPass {
  std::string folder;  // the OutBox path the names were listed from
  std::vector<std::string> names;
  size_t next = 0;
};

OutBoxPass& Pass() {
  static OutBoxPass pass;
  return pass;
}

// The next name of the pass; false when a fresh listing is exhausted too.
bool NextCandidate(bool* relisted, std::string* name) {
  OutBoxPass& pass = Pass();
  const std::string folder = SpoolPath(kOutBox, "");
  if (pass.folder != folder) pass = OutBoxPass{folder, {}, 0};
  if (pass.next >= pass.names.size()) {
    if (*relisted) return false;
    pass.names = SpoolFileNames(kOutBox);
    pass.next = 0;
    *relisted = true;
    if (pass.names.empty()) return false;
  }
  *name = pass.names[pass.next++];  // a copy: a nested scan may list again
  return true;
}

// How many scans are under way on the stack (a resolver's wait and a
// session's yield run events inside a scan).
int g_scans = 0;

struct ScanScope {
  ScanScope() { ++g_scans; }
  ~ScanScope() { --g_scans; }
};

void MoveAllDue(bool whatever_age) {
  const int delay = EffectiveAttemptDelay();
  const std::time_t now = std::time(nullptr);
  for (const std::string& name : SpoolFileNames(kDeferred)) {
    long long modified = SpoolFileTime(kDeferred, name);
    if (modified < 0) continue;
    if (whatever_age || DeferredDue(static_cast<std::time_t>(modified), now, delay))
      MoveSpoolFile(name, kDeferred, kOutBox);
  }
}

}  // namespace

void VerifOutBox() {
  Guard("MOD:MODULE[VerifOutBox]", [] {
    if (Config().KeepLocal) return;
    ScanScope scope;
    // Names come from a listing taken earlier: a dispatch may yield, and
    // nested scans may move files meanwhile, so each name is checked again
    // when its turn comes.
    bool relisted = false;
    std::string name;
    while (NextCandidate(&relisted, &name)) {
      if (InProgress(name) || !SpoolFileExists(kOutBox, name)) continue;
      DbgPlain("OUT demande d'envoi demandée (" + name + ")");
      Dispatch done = SendOutSmtp(name);
      if (done == Dispatch::Started) return;
      if (done == Dispatch::NoFreeSlot) {
        --Pass().next;  // no yield on this path: the same file is first next time
        break;
      }
    }
    CurrentForm().tmrVerifOutBox().SetEnabled(true);
  });
}

Dispatch SendOutSmtp(const std::string& file) {
  return Guard("MOD:MODULE[SendOutSmtp]", [&] {
    DbgPlain("Recherche d'une connexion OUT libre");
    int i = FindFreeOutSlot();
    if (i == 0) return Dispatch::NoFreeSlot;
    DbgPlain("Connexion OUT trouvée: " + std::to_string(i));
    CConnexion& cnx = CnxOut(i);
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
      NoRouteOutcome(i, domain);
      return Dispatch::Skipped;  // settled without a session: the scan goes on
    }
    Connect(i, cnx);
    return Dispatch::Started;
  });
}

bool DeferredDue(std::time_t modified, std::time_t now, int delay_minutes) {
  return static_cast<long long>(now - modified) > static_cast<long long>(delay_minutes) * 60;
}

void VerifDeferred() {
  Guard("MOD:MODULE[VerifDeferred]", [] { MoveAllDue(false); });
}

void Flush() {
  Guard("MOD:MODULE[Flush]", [] { MoveAllDue(true); });
}

void tmrVerifOutBox_Timer() {
  Guard("FRM:MAIN[tmrVerifOutBox_Timer]", [] {
    // The timer stays on: a session that waits on a silent exchanger must
    // not hold back the files behind it. A tick inside a scan (a resolver
    // waiting for an answer runs events) would only nest another one.
    if (!Config().KeepLocal && g_scans == 0) VerifOutBox();
  });
}

void tmrVerifDeferred_Timer() {
  Guard("FRM:MAIN[tmrVerifDeferred_Timer]", [] { VerifDeferred(); });
}

}  // namespace dorvane
