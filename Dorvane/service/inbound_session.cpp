#include "service/inbound_session.h"

#include <algorithm>
#include <utility>
#include <vector>

#include <QCoreApplication>
#include <QTimer>

#include "base/dates.h"
#include "base/field_reader.h"
#include "base/program.h"
#include "base/runtime_error.h"
#include "config/configuration.h"
#include "log/guard.h"
#include "log/logs.h"
#include "relay/connexion.h"
#include "relay/form.h"
#include "spool/domain_split.h"
#include "spool/free_space.h"
#include "spool/message.h"
#include "spool/random_file.h"
#include "spool/spool_file.h"

namespace dorvane {
namespace {

constexpr int kSweepIntervalMs = 5000;
const char kCrLf[] = "\r\n";
const char kClosedLine[] = "<FONT COLOR='#FF0000'><B>TCP local ferm\xC3\xA9</B></FONT><BR>";
const char kTooMany[] = "421 Too many connections, try again later\r\n";
const char kSyntaxError[] = "501 Syntax error in parameters or arguments";
const char kBareLineBreak[] = "554 5.6.0 Bare CR or LF not allowed";
const char kNoStorage[] = "452 4.3.1 Insufficient system storage";
const char kTooBig[] = "552 Message size exceeds fixed maximum message size";

bool IsSlot(int n) { return n >= kFirstSlot && n <= kLastSlot; }
bool IsSpare(int n) { return n >= kFirstSpareElement && n < kFirstSpareElement + kSpareElements; }

void LogReceived(int n, std::string_view text) {
  std::string head = "Receive from Smtp local[" + std::to_string(n) + "]: ";
  DbgAdd(head + "<I> ********** Message Corps du mail **********</I><BR>", kDbgBody);
  DbgAdd(head + HtmlEscape(std::string(text)), kDbgBody);
}

SocketArray& Smtp() { return CurrentForm().Smtp(); }

}  // namespace

InboundSession::InboundSession(std::function<Clock::time_point()> now, FreeSpace free_space)
    : now_(std::move(now)), free_space_(std::move(free_space)) {
  if (!free_space_) free_space_ = [] { return FreeBytesAt(ProgramPath(kOutBox)); };
  if (!QCoreApplication::instance()) return;
  timer_ = std::make_unique<QTimer>();
  QObject::connect(timer_.get(), &QTimer::timeout, [this] { SweepIdle(); });
  timer_->start(kSweepIntervalMs);
}

InboundSession::~InboundSession() = default;

// ---- acceptance -----------------------------------------------------------

void InboundSession::OnConnectionRequest(int index, intptr_t request_id) {
  Guard("FRM:MAIN[Smtp_ConnectionRequest]", [&] {
    if (index == 0) Accept(request_id);
  });
}

void InboundSession::Accept(intptr_t request_id) {
  DbgAdd(GMTDate() + ": IN demande de connexion demand\xC3\xA9" "e<BR>");
  DbgAdd(GMTDate() + ": Recherche d'une connexion IN libre<BR>");
  int n = FindFreeInSlot();
  if (n == 0) return RefuseBusy(request_id);
  DbgAdd(GMTDate() + ": Connexion IN trouv\xC3\xA9" "e: " + std::to_string(n) + "<BR>");
  DbgAdd(GMTDate() + ": Chargement connexion IN[" + std::to_string(n) + "]<BR>");
  Smtp().Load(n);
  SocketControl& sock = Smtp()[n];
  sock.SetLocalPort(0);
  sock.Accept(request_id);

  CConnexion& cnx = CnxIn(n);
  cnx.Connexion = static_cast<uint8_t>(n);
  cnx.CnxType = "IN";
  cnx.SmtpCommand.clear();
  std::string host = sock.RemoteHost();
  std::string ip = sock.RemoteHostIP();
  cnx.SrvClient = host.empty() ? ip : host;
  cnx.SetStatus(kInAccepted);
  if (Denied(n)) return ReleaseSmtpLocal(n);
  Extra& extra = extra_[n] = Extra();
  extra.ip = ip;
  extra.deadline = now_() + kIdleTimeout;
  if (SlotsHeldBy(ip) > kMaxSlotsPerAddress) return TurnAway(n);

  std::string greeting = GreetingText(sock.LocalIP());
  LogLocal(n, "connect from " + host + " [" + ip + "]");
  DbgAdd("<FONT COLOR='#FF0000'><B>Demande de connexion Smtp local ...</B></FONT><BR>");
  DbgAdd("<FONT COLOR='#0000FF'>Send to Smtp local: " + greeting + "</FONT><BR>");
  cnx.SetStatus(kInGreeted);
  sock.SendData(greeting);
}

// The relay rule for the client just accepted on `element`: a client that
// may not relay is logged and closed without a word (true).
bool InboundSession::Denied(int element) {
  SocketControl& sock = Smtp()[element];
  std::string ip = sock.RemoteHostIP();
  if (RelayAllowed(ip, sock.LocalIP(), Config().Relay)) return false;
  MailLogAdd(GMTDate() + " Dorvane/smtplocal[" + std::to_string(element) + "] REJECT Host " + ip +
             " relay: deny");
  DbgAdd("<FONT COLOR='#FF0000'><B>" + ip + ": DENY RELAY</B></FONT><BR>");
  sock.Close();
  return true;
}

int InboundSession::SlotsHeldBy(const std::string& ip) const {
  return static_cast<int>(std::count_if(extra_.begin(), extra_.end(), [&](const auto& e) {
    return e.second.ip == ip && CnxIn(e.first).Status() != 0;
  }));
}

// A client over its address's share: the 421, then closed like after QUIT.
void InboundSession::TurnAway(int n) {
  MailLogAdd(GMTDate() + " Dorvane/smtplocal: 421 Too many connections");
  CnxIn(n).SetStatus(kInQuit);
  extra_[n].deadline = now_() + kCloseGrace;
  Smtp()[n].SendData(kTooMany);
}

void InboundSession::RefuseBusy(intptr_t request_id) {
  int spare = FreeSpare();
  Smtp().Load(spare);
  SocketControl& sock = Smtp()[spare];
  sock.SetLocalPort(0);
  sock.Accept(request_id);
  if (Denied(spare)) return DropSpare(spare);
  MailLogAdd(GMTDate() + " Dorvane/smtplocal: 421 Too many connections");
  DbgAdd("<FONT COLOR='#FF0000'><B>Aucune connexion IN libre</B></FONT><BR>");
  spares_[spare] = now_();
  sock.SendData(kTooMany);
}

// A spare element to carry a 421; when all are busy, the one taken first
// is dropped for it.
int InboundSession::FreeSpare() {
  int spare = kFirstSpareElement;
  while (IsSpare(spare) && Smtp().Exists(spare)) ++spare;
  if (IsSpare(spare)) return spare;
  auto oldest = std::min_element(spares_.begin(), spares_.end(),
                                 [](auto& a, auto& b) { return a.second < b.second; });
  spare = oldest == spares_.end() ? kFirstSpareElement : oldest->first;
  DropSpare(spare);
  return spare;
}

void InboundSession::DropSpare(int index) {
  spares_.erase(index);
  if (!Smtp().Exists(index)) return;
  Smtp()[index].Close();
  Smtp().Unload(index);
}

// ---- received bytes -------------------------------------------------------

void InboundSession::OnDataArrival(int index, long bytes) {
  (void)bytes;
  Guard("FRM:MAIN[Smtp_DataArrival]", [&] {
    if (!Smtp().Exists(index)) return;
    if (!IsSlot(index) || CnxIn(index).Status() == 0) {
      Smtp()[index].GetData();  // nobody to talk to: drop
      return;
    }
    Arrival(index);
  });
}

// Takes the received bytes apart: command lines one by one, message text
// up to its end, and so on; an incomplete line waits in SmtpCommand.
void InboundSession::Arrival(int n) {
  CConnexion& cnx = CnxIn(n);
  // The carried part of a line holds no CR LF (but may end in its CR).
  size_t searched = cnx.SmtpCommand.empty() ? 0 : cnx.SmtpCommand.size() - 1;
  std::string pending = std::exchange(cnx.SmtpCommand, std::string()) + Smtp()[n].GetData();
  std::string_view rest = pending;
  while (!rest.empty()) {
    int state = cnx.Status();
    if (state == 0 || state == kInQuit) return;  // closing: nothing more is read
    size_t used = state == kInData ? TextBytes(n, rest) : CommandLine(n, rest, searched);
    if (used == 0) break;
    rest.remove_prefix(used);
    searched = 0;
  }
  cnx.SmtpCommand.assign(rest);
}

// Handles the first command line of `pending`, whose first `searched`
// bytes are known to hold no line end; returns the bytes used (0 when the
// line is not complete yet).
size_t InboundSession::CommandLine(int n, std::string_view pending, size_t searched) {
  Extra& extra = extra_[n];
  size_t end = pending.find(kCrLf, searched);
  if (end == std::string_view::npos) {
    if (pending.size() <= kMaxCommandBytes) return 0;
    extra.discarding_line = true;
    return pending.size() - 1;  // keep one byte: a CR may start the line end
  }
  size_t used = end + 2;
  extra.deadline = now_() + kIdleTimeout;  // the next line starts here
  if (std::exchange(extra.discarding_line, false) || used > kMaxCommandBytes) {
    Reply(n, "500 Line too long.");
    return used;
  }
  std::string line(pending.substr(0, used));
  LogReceived(n, line);
  Command(n, line);
  return used;
}

// Takes message text from `pending` up to its end (then answers it);
// returns the bytes used.
size_t InboundSession::TextBytes(int n, std::string_view pending) {
  Extra& extra = extra_[n];
  size_t end = extra.scan.Feed(pending);
  std::string_view piece = pending.substr(0, end);
  LogReceived(n, piece);
  CMessage& msg = CnxIn(n).Message();
  if (!extra.oversize && msg.Data.size() + piece.size() > kMaxMessageBytes + 3) {
    extra.oversize = true;  // dropped as it arrives; refused at its end
    std::string().swap(msg.Data);
  }
  if (!extra.oversize) msg.Data.append(piece);
  if (end != std::string_view::npos) EndOfText(n);
  return piece.size();
}

// ---- the command table ----------------------------------------------------

void InboundSession::Command(int n, const std::string& line) {
  CConnexion& cnx = CnxIn(n);
  if (HasControlByte(line)) return Reply(n, kSyntaxError);
  std::string word = GetResponse(line);
  int state = cnx.Status();
  if (state == kInGreeted && word == "HELO") return Helo(n, line);
  if (state == kInHelo && word == "MAIL") return Mail(n, line, true);
  if (state == kInQueued && word == "MAIL") return Mail(n, line, false);
  if (state == kInMail && word == "RCPT") return Rcpt(n, line);
  if (state == kInMail && word == "DATA") return StartData(n);
  if (word == "RSET") {
    cnx.Message().MClear();
    cnx.SetStatus(kInHelo);
    return Reply(n, "250 Reset Ok.", true);
  }
  if (word == "NOOP") return Reply(n, "250 Noop Ok.", true);
  if (word == "QUIT") {
    cnx.SetStatus(kInQuit);
    extra_[n].deadline = now_() + kCloseGrace;
    SocketControl& sock = Smtp()[n];
    LogLocal(n, "disconnect from " + sock.RemoteHost() + " [" + sock.RemoteHostIP() + "]");
    return Reply(n, "221 Dorvane Goodbye");
  }
  LogLocal(n, "500 Unrecognized command");
  Reply(n, "500 Unrecognized command.");
}

void InboundSession::Helo(int n, const std::string& line) {
  std::string text = FirstLine(line);
  if (text.size() < 5) return Reply(n, kSyntaxError);
  CnxIn(n).SetStatus(kInHelo);
  Reply(n, "250 Hello " + text.substr(5));
}

void InboundSession::Mail(int n, const std::string& line, bool log_client) {
  std::string arg;
  if (!ArgumentAfter(line, "mail from:", &arg)) return Reply(n, kSyntaxError);
  CConnexion& cnx = CnxIn(n);
  if (log_client) {
    SocketControl& sock = Smtp()[n];
    LogLocal(n, "client=" + sock.RemoteHost() + " [" + sock.RemoteHostIP() + "]");
  } else {
    cnx.Message().MClear();
  }
  cnx.Message().From = TrimSpaces(arg);
  if (!IsValidAddress(cnx.Message().From))
    return Reply(n, "504 sender is " + arg + " sender is not a valid email");
  cnx.SetStatus(kInMail);
  Reply(n, "250 sender is " + arg + " sender ok");
}

void InboundSession::Rcpt(int n, const std::string& line) {
  std::string arg;
  if (!ArgumentAfter(line, "rcpt to:", &arg)) return Reply(n, kSyntaxError);
  std::string rcpt = TrimSpaces(arg);
  if (!IsValidAddress(rcpt))
    return Reply(n, "504 recipient is " + rcpt + " recipient is not a valid email");
  CConnexion& cnx = CnxIn(n);
  if (cnx.Message().MRcptToCount() >= kMaxRecipients) return Reply(n, "452 Too many recipients");
  cnx.Message().AddRcptTo(rcpt);
  cnx.SetStatus(kInMail);
  Reply(n, "250 recipient is " + rcpt + " recipient ok");
}

void InboundSession::StartData(int n) {
  CConnexion& cnx = CnxIn(n);
  if (cnx.Message().MRcptToCount() == 0) return Reply(n, "554 No valid recipients");
  cnx.SetStatus(kInData);
  cnx.Message().Data.clear();
  Extra& extra = extra_[n];
  extra.oversize = false;
  extra.scan = TextScan();
  extra.deadline = now_() + kDataTimeout;
  Reply(n, "354 OK End with <CRLF>.<CRLF>");
}

// ---- end of the message text ----------------------------------------------

void InboundSession::EndOfText(int n) {
  Extra& extra = extra_[n];
  extra.deadline = now_() + kIdleTimeout;
  if (extra.oversize) return Refuse(n, kTooBig);
  if (extra.scan.SawBareLineBreak()) {
    LogLocal(n, kBareLineBreak);
    return Refuse(n, kBareLineBreak);
  }
  CMessage& msg = CnxIn(n).Message();
  msg.Data.resize(msg.Data.size() - 3);  // the "." line
  if (!SpoolHasRoom(msg)) {
    LogLocal(n, kNoStorage);
    return Refuse(n, kNoStorage);
  }
  msg.TxtEng = SpoolWarningEnglish();
  msg.TxtFr = SpoolWarningFrench();
  msg.Essai = 0;
  try {
    Queue(n);
  } catch (const RuntimeError& e) {
    LogLocal(n, "451 local error in processing: " + e.description());
    return Refuse(n, "451 Requested action aborted: local error in processing");
  }
  CnxIn(n).SetStatus(kInQueued);
  LogLocal(n, " to=" + msg.RcptTo(1) + " status=outbox");
  std::string().swap(msg.Data);  // on disk now
  Reply(n, "250 Message accepted for delivery");
}

// Whether OutBox has room for `msg` in all its domain files, with a margin;
// true when the free space cannot be told (the write itself then decides).
bool InboundSession::SpoolHasRoom(const CMessage& msg) const {
  std::optional<uint64_t> free = free_space_();
  if (!free) return true;
  size_t files = msg.MRcptToCount() > 1 ? GroupRcptToByDomain(msg).size() : 1;
  return *free >= SpoolBytesNeeded(msg.Data.size(), files);
}

// Writes the slot's message to OutBox, whole and on disk when it returns.
void InboundSession::Queue(int n) {
  CMessage& msg = CnxIn(n).Message();
  if (msg.MRcptToCount() > 1) {
    WriteSplitByDomain(msg);
    return;
  }
  msg.ID = FreshSpoolName();
  msg.MWrite(SpoolPath(kOutBox, msg.ID));
}

// Ends the transaction without queuing: the message is dropped, HELO state.
void InboundSession::Refuse(int n, const std::string& reply) {
  CConnexion& cnx = CnxIn(n);
  extra_[n].oversize = false;
  cnx.Message().MClear();
  cnx.SetStatus(kInHelo);
  Reply(n, reply);
}

// ---- replies and logs -----------------------------------------------------

void InboundSession::Reply(int n, const std::string& reply, bool bold) {
  std::string head = "Send to Smtp local[" + std::to_string(n) + "]: " + HtmlEscape(reply);
  DbgAdd(bold ? "<FONT COLOR='#0000FF'><B>" + head + "</B></FONT><BR>"
              : "<FONT COLOR='#0000FF'>" + head + "</FONT><BR>");
  Smtp()[n].SendData(reply + kCrLf);
}

void InboundSession::LogLocal(int n, const std::string& text) {
  MailLogAdd(GMTDate() + " Dorvane/smtplocal[" + std::to_string(n) + "]: " + text);
}

// ---- end of a connection --------------------------------------------------

void InboundSession::OnSendComplete(int index) {
  Guard("FRM:MAIN[Smtp_SendComplete]", [&] {
    if (IsSpare(index)) return DropSpare(index);
    if (IsSlot(index) && CnxIn(index).Status() == kInQuit) CloseAndRelease(index);
  });
}

void InboundSession::OnClose(int index) {
  Guard("FRM:MAIN[Smtp_Close]", [&] {
    if (IsSpare(index)) return DropSpare(index);
    if (IsSlot(index) && CnxIn(index).Status() != 0) CloseAndRelease(index);
  });
}

void InboundSession::OnError(int index, int number, const std::string& description) {
  Guard("FRM:MAIN[Smtp_Error]", [&] {
    if (index == 0) return;  // the listener: nothing to release
    DbgAdd("<FONT COLOR='#FF0000'>Smtp local[" + std::to_string(index) + "]: erreur " +
           std::to_string(number) + " " + HtmlEscape(description) + "</FONT><BR>");
    if (IsSpare(index)) return DropSpare(index);
    if (IsSlot(index) && CnxIn(index).Status() != 0) CloseAndRelease(index);
  });
}

void InboundSession::CloseAndRelease(int n) {
  if (Smtp().Exists(n)) Smtp()[n].Close();
  DbgAdd(kClosedLine);
  extra_.erase(n);
  ReleaseSmtpLocal(n);
}

void InboundSession::SweepIdle() {
  Guard("FRM:MAIN[tmrInboundIdle_Timer]", [&] {
    Clock::time_point now = now_();
    for (int n = kFirstSlot; n <= kLastSlot; ++n) {
      int state = CnxIn(n).Status();
      if (state == 0) continue;
      Extra& extra = extra_[n];
      if (now < extra.deadline) continue;
      if (state == kInQuit) {
        CloseAndRelease(n);
        continue;
      }
      LogLocal(n, "421 Timeout, closing connection");
      CnxIn(n).SetStatus(kInQuit);
      extra.deadline = now + kCloseGrace;
      Reply(n, "421 Timeout, closing connection");
    }
    std::vector<int> expired;
    for (const auto& [index, taken] : spares_)
      if (now - taken >= kCloseGrace) expired.push_back(index);
    for (int index : expired) DropSpare(index);
  });
}

}  // namespace dorvane
