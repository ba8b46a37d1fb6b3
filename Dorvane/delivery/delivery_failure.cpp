#include "delivery/delivery_failure.h"

#include <utility>

#include "base/runtime_error.h"
#include "base/socket_control.h"
#include "config/configuration.h"
#include "delivery/bounce.h"
#include "delivery/delay_notice.h"
#include "delivery/outbound_slot.h"
#include "delivery/server_reply.h"
#include "delivery/session_limits.h"
#include "delivery/spool_moves.h"
#include "log/guard.h"
#include "log/logs.h"
#include "mx/cdns.h"
#include "relay/connexion.h"
#include "relay/environment.h"
#include "relay/form.h"
#include "spool/message.h"
#include "spool/spool_file.h"

namespace dorvane {
namespace {

const char kNotRoutable[] =
    "See log file at this time : The corresponding message is not routable => placed in the error "
    "directory";

}  // namespace

// What ended an attempt, as the failure lines and LastError tell it.
struct DeliveryFailure::Failure {
  std::string last_error;  // "n: description", or the reply's first line
  std::string reason;      // between the brackets of the log line
  std::string host, ip;    // the exchanger that failed
  bool reply = false;      // said by the exchanger, not by the socket
};

// "connection failed (reason) for host [ip], " of the failure lines.
std::string DeliveryFailure::FailedFor(const Failure& failure) {
  return "connection failed (" + failure.reason + ") for " + PeerText(failure.host, failure.ip) + ", ";
}

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

// GMTDate + " Dorvane/smtpdistant[i]: " + ID.
std::string DeliveryFailure::LogPrefix(int i) {
  return LogStamp(env_.clock) + " Dorvane/smtpdistant[" + std::to_string(i) + "]: " + env_.pools.Out(i).Message().ID;
}

// `failure` with the exchanger of slot i's element, while it is loaded.
DeliveryFailure::Failure DeliveryFailure::AtPeer(int i, Failure failure) {
  SocketArray& distant = env_.form.SmtpDistant();
  if (!distant.Exists(i)) return failure;
  failure.host = distant[i].RemoteHost();
  failure.ip = distant[i].RemoteHostIP();
  return failure;
}

// The message becomes a bounce to its sender, in OutBox.
void DeliveryFailure::Bounce(const CMessage& message, const std::string& file) {
  message.MWrite(env_.files, env_.logs, SpoolPath(kOutBox, file));
  GenerateError(env_, file);
  moves_.Announce(kOutBox, file);
}

// Deferral after a failure. Deferred is written before the OutBox copy goes
// (GenerateDeferred removes it once the notice is queued). A notice gets no
// delay notice of its own: each one would be a new message that could be
// deferred and noticed in turn, without end. The OutBox copy already holds
// the message's current fields.
void DeliveryFailure::Defer(const CMessage& message, const std::string& file) {
  if (message.ForSender) return moves_.Move(file, kOutBox, kDeferred);
  moves_.Write(message, kDeferred, file);
  moves_.Announce(kOutBox, GenerateDeferred(env_, file));
}

void DeliveryFailure::SmarthostFailed(int i, const Failure& failure) {
  CConnexion& cnx = env_.pools.Out(i);
  CMessage& message = cnx.Message();
  message.MWrite(env_.files, env_.logs, SpoolPath(kOutBox, cnx.CurrentOutFile));
  env_.logs.DbgAdd("<FONT COLOR='#FF8000'>Error for : " + env_.settings.running.SmtpServer + "</FONT><BR>");
  env_.logs.MailLogAdd(LogPrefix(i) + " " + std::to_string(message.Essai) + "st " + FailedFor(failure) +
                       "status=error, not return error neither deferred because there's no route available "
                       "with the specified SMTP server");
  env_.logs.ErrorLogAdd(LogStamp(env_.clock) + " " + message.ID + " " + kNotRoutable);
  moves_.Move(cnx.CurrentOutFile, kOutBox, kError);
  ReleaseSmtpDistant(env_, i);
}

void DeliveryFailure::TryNextHost(int i, const Failure& failure) {
  CConnexion& cnx = env_.pools.Out(i);
  env_.logs.MailLogAdd(LogPrefix(i) + " " + FailedFor(failure) + "status=trying other MX server, attempt=" +
                       std::to_string(cnx.Message().Essai));
  CDns& dns = cnx.DNS();
  dns.CurrentMX = static_cast<uint8_t>(dns.CurrentMX + 1);
  cnx.SrvClient = dns.MX.Host(dns.CurrentMX);
  cnx.CurrentRcptTo = 0;
  cnx.SetStatus(kOutConnecting);
  SocketControl& socket = env_.form.SmtpDistant()[i];
  socket.SetRemoteHost(cnx.SrvClient);
  socket.SetRemotePort(25);
  socket.Connect();
  limits_.StartConnect(i);
}

void DeliveryFailure::AllHostsFailed(int i, const Failure& failure) {
  CConnexion& cnx = env_.pools.Out(i);
  CMessage& message = cnx.Message();
  const std::string& file = cnx.CurrentOutFile;
  const uint8_t max = env_.settings.running.MaxNbrAttempt;
  const std::string failed = FailedFor(failure);
  message.MWrite(env_.files, env_.logs, SpoolPath(kOutBox, file));
  cnx.SetStatus(kOutEnding);
  if (message.Essai > max && message.ForSender) {
    env_.logs.MailLogAdd(LogPrefix(i) + " " + std::to_string(max) + "st " + failed +
                         "status=error, not return error because it's already a return-error-mail: deny loop");
    env_.logs.ErrorLogAdd(LogStamp(env_.clock) + kNotRoutable);
    moves_.Move(file, kOutBox, kError);
  } else if (message.Essai > max) {
    env_.logs.MailLogAdd(LogPrefix(i) + " " + std::to_string(max) + "st " + failed +
                         "status=error, return error to=" + message.From);
    message.LastError = (failure.reply ? failure.last_error : failure.last_error + " (" + failure.reason + ")") +
                        "\r\n\r\nThis was the " + std::to_string(max) + "st attempt ...";
    Bounce(message, file);
  } else {
    env_.logs.MailLogAdd(LogPrefix(i) + " " + failed + "status=deferred, attempt=" + std::to_string(message.Essai));
    Defer(message, file);
  }
  ReleaseSmtpDistant(env_, i);
}

// The attempt of slot i failed (its socket is closed): the smarthost's
// Error folder, the next host, or the end of the route.
void DeliveryFailure::AttemptFailed(int i, const Failure& failure) {
  CConnexion& cnx = env_.pools.Out(i);
  cnx.Message().LastError = failure.last_error;
  if (env_.settings.file.SmtpServerDefined && !failure.reply) return SmarthostFailed(i, failure);
  if (cnx.DNS().CurrentMX < cnx.DNS().MX.Count()) return TryNextHost(i, failure);
  AllHostsFailed(i, failure);
}

void DeliveryFailure::SocketError(int i, int number, const std::string& description) {
  Guard("FRM:MAIN[SmtpDistant_Error]", [&] {
    CConnexion& cnx = env_.pools.Out(i);
    if (!InSession(cnx.Status())) return;
    env_.logs.DbgAdd("<FONT COLOR='#0000FF'>Error for SMTPDISTANT[" + std::to_string(i) + "]: " + cnx.Message().ID +
                     " " + std::to_string(number) + ": " + description + "</FONT><BR>");
    const std::string last_error = std::to_string(number) + ": " + description;
    const Failure failure = AtPeer(i, Failure{last_error, FailureReason(number), "", ""});
    SocketArray& distant = env_.form.SmtpDistant();
    if (distant.Exists(i)) distant[i].Close();
    AttemptFailed(i, failure);
  });
}

void DeliveryFailure::ReplyFailure(int i, const std::string& reply) {
  const std::string reason = ReplyReason(reply);
  AttemptFailed(i, AtPeer(i, Failure{reason, reason, "", "", true}));
}

void DeliveryFailure::Refuse(int i, const std::string& reply, RefusedAt where) {
  CConnexion& cnx = env_.pools.Out(i);
  CMessage& message = cnx.Message();
  message.LastError = ReplyReason(reply);
  // The recipient a refusal names: the last one sent while recipients are
  // being sent, otherwise the first.
  const int k = where == RefusedAt::Recipient && cnx.CurrentRcptTo > 0 ? cnx.CurrentRcptTo : 1;
  const std::string head = LogPrefix(i) + " Error " + ReplyCode(reply) + " (" + message.LastError +
                           "), error for=" + message.RcptTo(k);
  if (message.ForSender) {
    env_.logs.MailLogAdd(head +
                         " status=error, not return error because it's already a return-error-mail: deny loop");
    if (where == RefusedAt::Recipient) env_.logs.ErrorLogAdd(LogStamp(env_.clock) + " " + kNotRoutable);
    moves_.FileFromOutBox(message, cnx.CurrentOutFile, kError);
  } else {
    env_.logs.MailLogAdd(head + " status=error, return error to=" + message.From);
    Bounce(message, cnx.CurrentOutFile);
  }
  ReleaseSmtpDistant(env_, i);
}

void DeliveryFailure::AuthFailed(int i, const std::string& why) {
  CConnexion& cnx = env_.pools.Out(i);
  CMessage& message = cnx.Message();
  if (message.Essai > 0) --message.Essai;  // this attempt was never the message's
  const std::string failed = "authentication failed (" + why + ")";
  message.LastError = failed;
  const Failure peer = AtPeer(i, Failure{});
  env_.logs.MailLogAdd(LogPrefix(i) + " " + failed + " for " + PeerText(peer.host, peer.ip) + ", status=deferred");
  env_.logs.ErrorLogAdd(LogStamp(env_.clock) + " " + message.ID + " " + failed + " with " + peer.host);
  moves_.FileFromOutBox(message, cnx.CurrentOutFile, kDeferred);
  if (!std::exchange(auth_notice_shown_, true)) env_.form.Shell().ShowTrayNotice("Dorvane", failed);
  ReleaseSmtpDistant(env_, i);
}

void DeliveryFailure::NoRoute(int i, const std::string& domain) {
  CConnexion& cnx = env_.pools.Out(i);
  CMessage& message = cnx.Message();
  const std::string failure =
      "421 No MX DNS available for " + domain + " using NS " + env_.settings.running.DNSServer;
  env_.logs.MailLogAdd(LogStamp(env_.clock) + " Dorvane/smtpdistant: " + message.ID + " " + failure +
                       " status=bounced");
  message.LastError = failure;
  if (message.Essai > env_.settings.running.MaxNbrAttempt && !message.ForSender) {
    Bounce(message, cnx.CurrentOutFile);
  } else {
    moves_.FileFromOutBox(message, cnx.CurrentOutFile, kDeferred);
  }
  cnx.SetStatus(kOutFree);
  cnx.DNS().ClearMx();
  env_.form.tmrVerifOutBox().SetEnabled(true);
}

}  // namespace dorvane
