#include "delivery/delivery_failure.h"

#include "config/configuration.h"
#include "delivery/bounce.h"
#include "delivery/client_session.h"
#include "delivery/delay_notice.h"
#include "delivery/queue_scan.h"
#include "delivery/session_limits.h"
#include "delivery/session_states.h"
#include "delivery/spool_moves.h"
#include "delivery/yield.h"
#include "log/dates.h"
#include "log/logs.h"
#include "log/runtime_error.h"
#include "mx/cdns.h"
#include "service/connexion.h"
#include "service/form.h"
#include "spool/message.h"
#include "spool/spool_file.h"

namespace dorvane {
namespace {

const char kNotRoutable[] =
    "See log file at this time : The corresponding message is not routable => placed in the error "
    "directory";

// GMTDate + " Dorvane/smtpdistant[i]: " + ID.
std::string LogPrefix(int i) {
  return GMTDate() + " Dorvane/smtpdistant[" + std::to_string(i) + "]: " + CnxOut(i).Message().ID;
}

// " (reason) for host [ip], " of the failure lines.
std::string FailedFor(const std::string& reason, const std::string& host, const std::string& ip) {
  return "connection failed (" + reason + ") for " + host + " [" + ip + "], ";
}

// The message of slot i becomes a bounce to its sender, in OutBox.
void Bounce(CMessage& message, const std::string& file) {
  message.MWrite(SpoolPath(kOutBox, file));
  GenerateError(file);
}

// Deferral after a socket error. Deferred is written before the OutBox
// copy goes (GenerateDeferred removes it once the notice is queued). A
// notice gets no delay notice of its own: each one would be a new message
// that could be deferred and noticed in turn, without end.
// The OutBox copy already holds the message's current fields.
void Defer(const CMessage& message, const std::string& file) {
  if (message.ForSender) return MoveSpoolFile(file, kOutBox, kDeferred);
  message.MWrite(SpoolPath(kDeferred, file));
  GenerateDeferred(file);
}

void SmarthostFailed(int i, const std::string& failed) {
  CConnexion& cnx = CnxOut(i);
  CMessage& message = cnx.Message();
  message.MWrite(SpoolPath(kOutBox, cnx.CurrentOutFile));
  DbgAdd("<FONT COLOR='#FF8000'>Error for : " + Config().SmtpServer + "</FONT><BR>");
  MailLogAdd(LogPrefix(i) + " " + std::to_string(message.Essai) + "st " + failed +
             "status=error, not return error neither deferred because there's no route available "
             "with the specified SMTP server");
  ErrorLogAdd(GMTDate() + " " + message.ID + " " + kNotRoutable);
  MoveSpoolFile(cnx.CurrentOutFile, kOutBox, kError);
  ReleaseSmtpDistant(i);
}

void TryNextHost(int i, const std::string& failed) {
  CConnexion& cnx = CnxOut(i);
  MailLogAdd(LogPrefix(i) + " " + failed + "status=trying other MX server, attempt=" +
             std::to_string(cnx.Message().Essai));
  CDns& dns = cnx.DNS();
  dns.CurrentMX = static_cast<uint8_t>(dns.CurrentMX + 1);
  cnx.SrvClient = dns.MX.Host(dns.CurrentMX);
  cnx.CurrentRcptTo = 0;
  cnx.SetStatus(kOutConnecting);
  SocketControl& socket = CurrentForm().SmtpDistant()[i];
  socket.SetRemoteHost(cnx.SrvClient);
  socket.SetRemotePort(25);
  socket.Connect();
  StartConnectLimit(i);
}

void AllHostsFailed(int i, int number, const std::string& description, const std::string& reason,
                    const std::string& failed) {
  CConnexion& cnx = CnxOut(i);
  CMessage& message = cnx.Message();
  const std::string& file = cnx.CurrentOutFile;
  const uint8_t max = Config().MaxNbrAttempt;
  message.MWrite(SpoolPath(kOutBox, file));
  cnx.SetStatus(kOutEnding);
  if (message.Essai > max && message.ForSender) {
    MailLogAdd(LogPrefix(i) + " " + std::to_string(max) + "st " + failed +
               "status=error, not return error because it's already a return-error-mail: deny loop");
    ErrorLogAdd(GMTDate() + kNotRoutable);
    MoveSpoolFile(file, kOutBox, kError);
  } else if (message.Essai > max) {
    MailLogAdd(LogPrefix(i) + " " + std::to_string(max) + "st " + failed +
               "status=error, return error to=" + message.From);
    message.LastError = std::to_string(number) + ": " + description + " (" + reason + ")" +
                        "\r\n\r\nThis was the " +
                        std::to_string(max) + "st attempt ...";
    Bounce(message, file);
  } else {
    MailLogAdd(LogPrefix(i) + " " + failed + "status=deferred, attempt=" + std::to_string(message.Essai));
    Defer(message, file);
  }
  ReleaseSmtpDistant(i);
}

}  // namespace

std::string FailureReason(int number) {
  switch (number) {
    case kWsaEconnrefused: return "refused by peer";
    case kWsaEconnreset: return "reset by peer";
    case kWsaHostNotFound: return "host not found";
    case kWsaEtimedout: return "time out";
    default: return "unknown reason: " + std::to_string(number);
  }
}

void SmtpDistant_Error(int i, int number, const std::string& description) {
  Guard("FRM:MAIN[SmtpDistant_Error]", [&] {
    CConnexion& cnx = CnxOut(i);
    if (!InSession(cnx.Status())) return;
    CMessage& message = cnx.Message();
    DbgAdd("<FONT COLOR='#0000FF'>Error for SMTPDISTANT[" + std::to_string(i) + "]: " + message.ID + " " +
           std::to_string(number) + ": " + description + "</FONT><BR>");
    message.LastError = std::to_string(number) + ": " + description;
    SocketArray& distant = CurrentForm().SmtpDistant();
    std::string host, ip;
    if (distant.Exists(i)) {
      host = distant[i].RemoteHost();
      ip = distant[i].RemoteHostIP();
      distant[i].Close();
    }
    const std::string reason = FailureReason(number);
    const std::string failed = FailedFor(reason, host, ip);
    if (FileConfig().SmtpServerDefined) return SmarthostFailed(i, failed);
    if (cnx.DNS().CurrentMX < cnx.DNS().MX.Count()) return TryNextHost(i, failed);
    AllHostsFailed(i, number, description, reason, failed);
  });
}

void RefuseMessage(int i, const std::string& reply, RefusedAt where) {
  CConnexion& cnx = CnxOut(i);
  cnx.SetStatus(kOutEnding);
  SendQuitAndClose(i);
  CMessage& message = cnx.Message();
  const std::string text = reply.size() >= 2 ? reply.substr(0, reply.size() - 2) : std::string();
  message.LastError = text;
  const std::string refused = where == RefusedAt::LastRecipient ? message.RcptTo(cnx.CurrentRcptTo)
                                                                 : message.RcptTo(1);
  const std::string head = LogPrefix(i) + " Error 550 (" + text + "), error for=" + refused;
  if (message.ForSender) {
    MailLogAdd(head + " status=error, not return error because it's already a return-error-mail: deny loop");
    if (where == RefusedAt::LastRecipient) ErrorLogAdd(GMTDate() + " " + kNotRoutable);
    FileFromOutBox(message, cnx.CurrentOutFile, kError);
  } else {
    MailLogAdd(head + " status=error, return error to=" + message.From);
    Bounce(message, cnx.CurrentOutFile);
  }
  ReleaseSmtpDistant(i);
  YieldToEvents();
  VerifOutBox();
}

void NoRouteOutcome(int i, const std::string& domain) {
  CConnexion& cnx = CnxOut(i);
  CMessage& message = cnx.Message();
  const std::string failure = "421 No MX DNS available for " + domain + " using NS " + Config().DNSServer;
  MailLogAdd(GMTDate() + " Dorvane/smtpdistant: " + message.ID + " " + failure + " status=bounced");
  message.LastError = failure;
  if (message.Essai > Config().MaxNbrAttempt && !message.ForSender) {
    Bounce(message, cnx.CurrentOutFile);
  } else {
    FileFromOutBox(message, cnx.CurrentOutFile, kDeferred);
  }
  cnx.SetStatus(kOutFree);
  cnx.DNS().ClearMx();
  CurrentForm().tmrVerifOutBox().SetEnabled(true);
}

}  // namespace dorvane
