#include "delivery/delivery_failure.h"

#include "base/dates.h"
#include "base/runtime_error.h"
#include "config/configuration.h"
#include "delivery/bounce.h"
#include "delivery/client_session.h"
#include "delivery/delay_notice.h"
#include "delivery/queue_scan.h"
#include "delivery/server_reply.h"
#include "delivery/session_limits.h"
#include "delivery/session_states.h"
#include "delivery/spool_moves.h"
#include "delivery/yield.h"
#include "log/guard.h"
#include "log/logs.h"
#include "mx/cdns.h"
#include "relay/connexion.h"
#include "relay/form.h"
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

// What ended an attempt, as the failure lines and LastError tell it.
struct Failure {
  std::string last_error;  // "n: description", or the reply's first line
  std::string reason;      // between the brackets of the log line
  std::string host, ip;    // the exchanger that failed
  bool reply = false;      // said by the exchanger, not by the socket
};

// `failure` with the exchanger of slot i's element, while it is loaded.
Failure AtPeer(int i, Failure failure) {
  SocketArray& distant = CurrentForm().SmtpDistant();
  if (!distant.Exists(i)) return failure;
  failure.host = distant[i].RemoteHost();
  failure.ip = distant[i].RemoteHostIP();
  return failure;
}

// "connection failed (reason) for host [ip], " of the failure lines.
std::string FailedFor(const Failure& failure) {
  return "connection failed (" + failure.reason + ") for " + PeerText(failure.host, failure.ip) + ", ";
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

void SmarthostFailed(int i, const Failure& failure) {
  CConnexion& cnx = CnxOut(i);
  CMessage& message = cnx.Message();
  message.MWrite(SpoolPath(kOutBox, cnx.CurrentOutFile));
  DbgAdd("<FONT COLOR='#FF8000'>Error for : " + Config().SmtpServer + "</FONT><BR>");
  MailLogAdd(LogPrefix(i) + " " + std::to_string(message.Essai) + "st " + FailedFor(failure) +
             "status=error, not return error neither deferred because there's no route available "
             "with the specified SMTP server");
  ErrorLogAdd(GMTDate() + " " + message.ID + " " + kNotRoutable);
  MoveSpoolFile(cnx.CurrentOutFile, kOutBox, kError);
  ReleaseSmtpDistant(i);
}

void TryNextHost(int i, const Failure& failure) {
  CConnexion& cnx = CnxOut(i);
  MailLogAdd(LogPrefix(i) + " " + FailedFor(failure) + "status=trying other MX server, attempt=" +
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

void AllHostsFailed(int i, const Failure& failure) {
  CConnexion& cnx = CnxOut(i);
  CMessage& message = cnx.Message();
  const std::string& file = cnx.CurrentOutFile;
  const uint8_t max = Config().MaxNbrAttempt;
  const std::string failed = FailedFor(failure);
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
    message.LastError = (failure.reply ? failure.last_error
                                       : failure.last_error + " (" + failure.reason + ")") +
                        "\r\n\r\nThis was the " + std::to_string(max) + "st attempt ...";
    Bounce(message, file);
  } else {
    MailLogAdd(LogPrefix(i) + " " + failed + "status=deferred, attempt=" + std::to_string(message.Essai));
    Defer(message, file);
  }
  ReleaseSmtpDistant(i);
}

// The attempt of slot i failed (its socket is closed): the smarthost's
// Error folder, the next host, or the end of the route.
void AttemptFailed(int i, const Failure& failure) {
  CConnexion& cnx = CnxOut(i);
  cnx.Message().LastError = failure.last_error;
  if (FileConfig().SmtpServerDefined && !failure.reply) return SmarthostFailed(i, failure);
  if (cnx.DNS().CurrentMX < cnx.DNS().MX.Count()) return TryNextHost(i, failure);
  AllHostsFailed(i, failure);
}

// The recipient a refusal names: the last one sent while recipients are
// being sent, otherwise the first.
const std::string& RefusedRecipient(CConnexion& cnx, RefusedAt where) {
  const int k = where == RefusedAt::Recipient && cnx.CurrentRcptTo > 0 ? cnx.CurrentRcptTo : 1;
  return cnx.Message().RcptTo(k);
}

}  // namespace

std::string PeerText(const std::string& host, const std::string& ip) {
  return ip.empty() ? host : host + " [" + ip + "]";
}

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
    const std::string last_error = std::to_string(number) + ": " + description;
    const Failure failure = AtPeer(i, Failure{last_error, FailureReason(number), "", ""});
    SocketArray& distant = CurrentForm().SmtpDistant();
    if (distant.Exists(i)) distant[i].Close();
    AttemptFailed(i, failure);
  });
}

void ReplyFailure(int i, const std::string& reply) {
  CConnexion& cnx = CnxOut(i);
  const std::string reason = ReplyReason(reply);
  const Failure failure = AtPeer(i, Failure{reason, reason, "", "", true});
  cnx.SetStatus(kOutEnding);  // events of the QUIT's yield are not this session's
  SendQuitAndClose(i);
  AttemptFailed(i, failure);
  VerifOutBox();
}

void RefuseMessage(int i, const std::string& reply, RefusedAt where) {
  CConnexion& cnx = CnxOut(i);
  cnx.SetStatus(kOutEnding);
  SendQuitAndClose(i);
  CMessage& message = cnx.Message();
  message.LastError = ReplyReason(reply);
  const std::string head = LogPrefix(i) + " Error " + ReplyCode(reply) + " (" + message.LastError +
                           "), error for=" + RefusedRecipient(cnx, where);
  if (message.ForSender) {
    MailLogAdd(head + " status=error, not return error because it's already a return-error-mail: deny loop");
    if (where == RefusedAt::Recipient) ErrorLogAdd(GMTDate() + " " + kNotRoutable);
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
