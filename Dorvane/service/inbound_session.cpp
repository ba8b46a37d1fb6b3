#include "service/inbound_session.h"

#include <algorithm>
#include <vector>

#include <QCoreApplication>
#include <QTimer>

#include "config/configuration.h"
#include "config/field_reader.h"
#include "log/dates.h"
#include "log/logs.h"
#include "log/runtime_error.h"
#include "service/connexion.h"
#include "service/form.h"
#include "service/inbound_text.h"
#include "spool/domain_split.h"
#include "spool/message.h"
#include "spool/random_file.h"
#include "spool/spool_file.h"

namespace dorvane {
namespace {

constexpr int kSweepIntervalMs = 5000;
const char kCrLf[] = "\r\n";
const char kClosedLine[] = "<FONT COLOR='#FF0000'><B>TCP local ferm\xC3\xA9</B></FONT><BR>";

bool IsSlot(int n) { return n >= kFirstSlot && n <= kLastSlot; }
bool IsSpare(int n) { return n >= kFirstSpareElement && n < kFirstSpareElement + kSpareElements; }

bool EndsWithCrLf(const std::string& s) {
  return s.size() >= 2 && s[s.size() - 2] == '\r' && s.back() == '\n';
}

// The last `n` bytes of a + b.
std::string LastBytes(const std::string& a, const std::string& b, size_t n) {
  if (b.size() >= n) return b.substr(b.size() - n);
  size_t from_a = std::min(a.size(), n - b.size());
  return a.substr(a.size() - from_a) + b;
}

void LogReceived(int n, const std::string& unit) {
  std::string head = "Receive from Smtp local[" + std::to_string(n) + "]: ";
  DbgAdd(head + "<I> ********** Message Corps du mail **********</I><BR>", kDbgBody);
  DbgAdd(head + HtmlEscape(unit), kDbgBody);
}

SocketArray& Smtp() { return CurrentForm().Smtp(); }

}  // namespace

InboundSession::InboundSession(std::function<Clock::time_point()> now) : now_(std::move(now)) {
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
  extra_[n] = Extra();
  extra_[n].last_activity = now_();

  if (!RelayAllowed(ip, sock.LocalIP(), Config().Relay)) {
    MailLogAdd(GMTDate() + " Dorvane/smtplocal[" + std::to_string(n) + "] REJECT Host " + ip +
               " relay: deny");
    DbgAdd("<FONT COLOR='#FF0000'><B>" + ip + ": DENY RELAY</B></FONT><BR>");
    sock.Close();
    extra_.erase(n);
    ReleaseSmtpLocal(n);
    return;
  }
  std::string greeting = GreetingText(sock.LocalIP());
  LogLocal(n, "connect from " + host + " [" + ip + "]");
  DbgAdd("<FONT COLOR='#FF0000'><B>Demande de connexion Smtp local ...</B></FONT><BR>");
  DbgAdd("<FONT COLOR='#0000FF'>Send to Smtp local: " + greeting + "</FONT><BR>");
  cnx.SetStatus(kInGreeted);
  sock.SendData(greeting);
}

void InboundSession::RefuseBusy(intptr_t request_id) {
  int spare = kFirstSpareElement;
  while (spare < kFirstSpareElement + kSpareElements && Smtp().Exists(spare)) ++spare;
  if (!IsSpare(spare)) {  // every spare busy: reuse the one taken first
    auto oldest = std::min_element(spares_.begin(), spares_.end(),
                                   [](auto& a, auto& b) { return a.second < b.second; });
    spare = oldest == spares_.end() ? kFirstSpareElement : oldest->first;
    DropSpare(spare);
  }
  MailLogAdd(GMTDate() + " Dorvane/smtplocal: 421 Too many connections");
  DbgAdd("<FONT COLOR='#FF0000'><B>Aucune connexion IN libre</B></FONT><BR>");
  Smtp().Load(spare);
  SocketControl& sock = Smtp()[spare];
  sock.SetLocalPort(0);
  sock.Accept(request_id);
  spares_[spare] = now_();
  sock.SendData("421 Too many connections, try again later\r\n");
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

void InboundSession::Arrival(int n) {
  std::string data = Smtp()[n].GetData();
  extra_[n].last_activity = now_();
  switch (CnxIn(n).Status()) {
    case kInData: return TextBytes(n, std::move(data));
    case kInQuit: return;  // closing: nothing more is read
    default: return CommandBytes(n, std::move(data));
  }
}

void InboundSession::CommandBytes(int n, std::string data) {
  CConnexion& cnx = CnxIn(n);
  Extra& extra = extra_[n];
  cnx.SmtpCommand += data;
  if (!EndsWithCrLf(cnx.SmtpCommand)) {
    if (cnx.SmtpCommand.size() > kMaxCommandBytes) {
      extra.discarding_line = true;  // keep one byte: a CR may start the line end
      cnx.SmtpCommand.erase(0, cnx.SmtpCommand.size() - 1);
    }
    return;
  }
  std::string unit;
  unit.swap(cnx.SmtpCommand);
  if (extra.discarding_line || unit.size() > kMaxCommandBytes) {
    extra.discarding_line = false;
    return Reply(n, "500 Line too long.");
  }
  LogReceived(n, unit);
  Command(n, unit);
}

void InboundSession::TextBytes(int n, std::string data) {
  CConnexion& cnx = CnxIn(n);
  Extra& extra = extra_[n];
  if (extra.oversize) {
    extra.tail = LastBytes(extra.tail, data, 5);
    if (EndsMessage(extra.tail)) Refuse(n, "552 Message size exceeds fixed maximum message size");
    return;
  }
  cnx.SmtpCommand += data;
  CMessage& msg = cnx.Message();
  if (msg.Data.size() + cnx.SmtpCommand.size() > kMaxMessageBytes + 5) {
    extra.oversize = true;
    extra.tail = LastBytes(msg.Data, cnx.SmtpCommand, 5);
    std::string().swap(cnx.SmtpCommand);
    std::string().swap(msg.Data);
    if (EndsMessage(extra.tail)) Refuse(n, "552 Message size exceeds fixed maximum message size");
    return;
  }
  if (!EndsWithCrLf(cnx.SmtpCommand)) return;
  std::string unit;
  unit.swap(cnx.SmtpCommand);
  LogReceived(n, unit);
  if (!EndsMessage(unit)) {
    msg.Data += unit;
    return;
  }
  EndOfText(n, std::move(unit));
}

// ---- the command table ----------------------------------------------------

void InboundSession::Command(int n, const std::string& unit) {
  CConnexion& cnx = CnxIn(n);
  std::string word = GetResponse(unit);
  int state = cnx.Status();
  if (state == kInGreeted && word == "HELO") return Helo(n, unit);
  if (state == kInHelo && word == "MAIL") return Mail(n, unit, true);
  if (state == kInQueued && word == "MAIL") return Mail(n, unit, false);
  if (state == kInMail && word == "RCPT") return Rcpt(n, unit);
  if (state == kInMail && word == "DATA") return StartData(n);
  if (word == "RSET") {
    cnx.Message().MClear();
    cnx.SetStatus(kInHelo);
    return Reply(n, "250 Reset Ok.", true);
  }
  if (word == "NOOP") return Reply(n, "250 Noop Ok.", true);
  if (word == "QUIT") {
    cnx.SetStatus(kInQuit);
    SocketControl& sock = Smtp()[n];
    LogLocal(n, "disconnect from " + sock.RemoteHost() + " [" + sock.RemoteHostIP() + "]");
    return Reply(n, "221 Dorvane Goodbye");
  }
  LogLocal(n, "500 Unrecognized command");
  Reply(n, "500 Unrecognized command.");
}

void InboundSession::Helo(int n, const std::string& unit) {
  std::string line = FirstLine(unit);
  if (line.size() < 5) return Reply(n, "501 Syntax error in parameters or arguments");
  CnxIn(n).SetStatus(kInHelo);
  Reply(n, "250 Hello " + line.substr(5));
}

void InboundSession::Mail(int n, const std::string& unit, bool log_client) {
  std::string arg;
  if (!ArgumentAfter(unit, "mail from:", &arg))
    return Reply(n, "501 Syntax error in parameters or arguments");
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

void InboundSession::Rcpt(int n, const std::string& unit) {
  std::string arg;
  if (!ArgumentAfter(unit, "rcpt to:", &arg))
    return Reply(n, "501 Syntax error in parameters or arguments");
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
  extra_[n].oversize = false;
  Reply(n, "354 OK End with <CRLF>.<CRLF>");
}

// ---- end of the message text ----------------------------------------------

void InboundSession::EndOfText(int n, std::string unit) {
  CMessage& msg = CnxIn(n).Message();
  unit.resize(unit.size() - 3);  // the "." line
  msg.Data += unit;
  if (msg.Data.size() > kMaxMessageBytes)
    return Refuse(n, "552 Message size exceeds fixed maximum message size");
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

// Writes the slot's message to OutBox, whole and on disk when it returns.
void InboundSession::Queue(int n) {
  CMessage& msg = CnxIn(n).Message();
  if (msg.MRcptToCount() > 1) {
    ParseRcptTo(n);
    return;
  }
  msg.ID = FreshSpoolName();
  msg.MWrite(SpoolPath(kOutBox, msg.ID));
}

// Ends the transaction without queuing: the message is dropped, HELO state.
void InboundSession::Refuse(int n, const std::string& reply) {
  CConnexion& cnx = CnxIn(n);
  extra_[n].oversize = false;
  extra_[n].tail.clear();
  cnx.SmtpCommand.clear();
  cnx.Message().MClear();
  cnx.SetStatus(kInHelo);
  Reply(n, reply);
}

// ---- replies and logs -----------------------------------------------------

void InboundSession::Reply(int n, const std::string& reply, bool bold) {
  std::string head = "Send to Smtp local[" + std::to_string(n) + "]: " + reply;
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
           std::to_string(number) + " " + description + "</FONT><BR>");
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
      Clock::duration idle = now - extra.last_activity;
      if (state == kInQuit) {
        if (idle >= kCloseGrace) CloseAndRelease(n);
        continue;
      }
      if (idle < kIdleTimeout) continue;
      LogLocal(n, "421 Timeout, closing connection");
      CnxIn(n).SetStatus(kInQuit);
      extra.last_activity = now;
      Reply(n, "421 Timeout, closing connection");
    }
    std::vector<int> expired;
    for (const auto& [index, taken] : spares_)
      if (now - taken >= kCloseGrace) expired.push_back(index);
    for (int index : expired) DropSpare(index);
  });
}

}  // namespace dorvane
