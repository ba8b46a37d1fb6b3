#include "delivery/client_session.h"

#include <array>

#include "base/dates.h"
#include "base/dialogs.h"
#include "base/program.h"
#include "base/runtime_error.h"
#include "config/configuration.h"
#include "delivery/delivery_failure.h"
#include "delivery/queue_scan.h"
#include "delivery/server_reply.h"
#include "delivery/session_limits.h"
#include "delivery/session_states.h"
#include "delivery/spool_moves.h"
#include "delivery/yield.h"
#include "log/guard.h"
#include "log/logs.h"
#include "relay/connexion.h"
#include "relay/form.h"
#include "spool/message.h"
#include "spool/spool_file.h"

namespace dorvane {
namespace {

const char kCrLf[] = "\r\n";

std::string Slot(int i) { return "[" + std::to_string(i) + "]"; }

const std::string& IdOf(int i) { return CnxOut(i).Message().ID; }

// GMTDate + " Dorvane/smtpdistant[i]: " + ID.
std::string MailPrefix(int i) { return GMTDate() + " Dorvane/smtpdistant" + Slot(i) + ": " + IdOf(i); }

// "host [ip]" of element i.
std::string Peer(int i) {
  SocketControl& socket = CurrentForm().SmtpDistant()[i];
  return PeerText(socket.RemoteHost(), socket.RemoteHostIP());
}

// The bytes of each slot's reply in progress.
ReplyBuffer& Received(int i) {
  static std::array<ReplyBuffer, kLastSlot + 1> buffers;
  return buffers.at(static_cast<size_t>(i));
}

// Announces `command` (without its line end) in the debug log and sends it.
// Commands that carry addresses are escaped in the log.
void Send(int i, const std::string& command, bool escape) {
  const std::string line = command + kCrLf;
  DbgAdd("<FONT COLOR='#0000FF'>Send to SMTPDISTANT" + Slot(i) + ": " + IdOf(i) + " " +
         (escape ? HtmlEscape(line) : line) + "</FONT><BR>");
  CurrentForm().SmtpDistant()[i].SendData(line);
  StartReplyLimit(i);
}

void YieldAndScan() {
  YieldToEvents();
  VerifOutBox();
}

void SendRecipient(int i) {
  CConnexion& cnx = CnxOut(i);
  CMessage& message = cnx.Message();
  cnx.CurrentRcptTo = static_cast<uint8_t>(cnx.CurrentRcptTo + 1);
  cnx.SetStatus(cnx.CurrentRcptTo >= message.MRcptToCount() ? kOutLastRcptSent : kOutMailFromSent);
  Send(i, "RCPT TO: " + message.RcptTo(cnx.CurrentRcptTo), true);
}

void SendBody(int i) {
  CnxOut(i).SetStatus(kOutBodySending);
  // Sent exactly as stored: no dot doubling, the end line after an added CR LF.
  CurrentForm().SmtpDistant()[i].SendData(CnxOut(i).Message().Data + "\r\n.\r\n");
  StartReplyLimit(i);
  DbgAdd("<FONT COLOR='#0000FF'>Send to SMTPDISTANT" + Slot(i) + ": " + IdOf(i) +
         " **** DATA ****</FONT><BR>");
}

void Delivered(int i, const std::string& reply) {
  CConnexion& cnx = CnxOut(i);
  cnx.SetStatus(kOutEnding);
  const std::string text = ReplyReason(reply);
  const std::string relay = Peer(i);
  // The file goes first: a crash after a "status=sent" line (QUIT yields to
  // other sessions for a while) must not find it and send it again. It
  // also goes before the slot is freed: a scan between the two must not
  // find it without an owner.
  RemoveSpoolFile(kOutBox, cnx.CurrentOutFile);
  const CMessage& message = cnx.Message();
  for (int k = 1; k <= message.MRcptToCount(); ++k) {
    MailLogAdd(MailPrefix(i) + " to=" + message.RcptTo(k) + ", relay=" + relay + ", status=sent (" +
               text + ")");
  }
  SendQuitAndClose(i);
  ReleaseSmtpDistant(i);
  YieldAndScan();
  CurrentForm().tmrVerifOutBox().SetEnabled(true);
  VerifOutBox();
}

// A reply that fits no row: shown, then the session ends at once, for
// good on a 5xx, for now otherwise.
void Unexpected(int i, const std::string& reply) {
  DbgAdd("<FONT COLOR='#FF0000'>" + IdOf(i) + " RECEIVED DATA NOT IMPLEMENTED !</FONT><BR>");
  // Never modal: other deliveries go on while the box is up.
  if (!Headless())
    CurrentDialogs().Notice("RECEIVED DATA NOT IMPLEMENTED ! See debug log ...", "", DialogIcon::Exclamation);
  else  // no box and, by default, no debug log: keep a trace the user can read
    MailLogAdd(MailPrefix(i) + " unexpected reply: " + ReplyReason(reply));
  const int32_t state = CnxOut(i).Status();
  const bool at_recipient =
      state == kOutLastRcptSent || (state == kOutMailFromSent && CnxOut(i).CurrentRcptTo > 0);
  if (ReplyCode(reply).starts_with("5"))
    return RefuseMessage(i, reply, at_recipient ? RefusedAt::Recipient : RefusedAt::Message);
  ReplyFailure(i, reply);
}

}  // namespace

void SendQuitAndClose(int i) {
  Send(i, "QUIT", false);
  YieldToEvents();
  SocketArray& distant = CurrentForm().SmtpDistant();
  if (distant.Exists(i)) distant[i].Close();
  // Whatever the server sent after the reply that ended the session is no
  // reply to the next session on this slot.
  Received(i).Clear();
}

void SmtpDistant_DataArrival(int i, const std::string& reply) {
  CConnexion& cnx = CnxOut(i);
  const int32_t state = cnx.Status();
  const std::string code = ReplyCode(reply);
  if (state == kOutConnecting && code == "220") {
    cnx.SetStatus(kOutHeloSent);
    Send(i, "HELO " + HostName, false);
    return VerifOutBox();
  }
  if (state == kOutHeloSent && code == "250") {
    cnx.SetStatus(kOutMailFromSent);
    Send(i, "MAIL FROM: " + cnx.Message().From, true);
    return YieldAndScan();
  }
  if (state == kOutMailFromSent && code == "250") {
    SendRecipient(i);
    return YieldAndScan();
  }
  if (state == kOutLastRcptSent && code == "250") {
    cnx.SetStatus(kOutDataSent);
    Send(i, "DATA", false);
    return YieldAndScan();
  }
  if (state == kOutLastRcptSent && code == "550") return RefuseMessage(i, reply, RefusedAt::Recipient);
  if (state == kOutDataSent && code == "354") {
    SendBody(i);
    return YieldAndScan();
  }
  // The final reply may overtake the send-complete event: the body is
  // handed over once the server has answered it.
  const bool body_sent = state == kOutBodySent || state == kOutBodySending;
  if (body_sent && code == "250") return Delivered(i, reply);
  if (body_sent && code == "550") return RefuseMessage(i, reply, RefusedAt::Message);
  Unexpected(i, reply);
}

void ClientSession::OnConnect(int index) {
  Guard("FRM:MAIN[SmtpDistant_Connect]", [&] {
    Received(index).Clear();  // nothing of an earlier connection is a reply here
    if (!InSession(CnxOut(index).Status())) return;
    MailLogAdd(GMTDate() + " Dorvane/smtpdistant" + Slot(index) + ": " + IdOf(index) + " connect to " +
               Peer(index));
    StartReplyLimit(index);
  });
}

void ClientSession::OnDataArrival(int index, long bytes) {
  (void)bytes;
  Guard("FRM:MAIN[SmtpDistant_DataArrival]", [&] {
    const std::string reply = CurrentForm().SmtpDistant()[index].GetData();
    if (Config().DebugMode) {
      DbgAdd("<FONT COLOR='#008800'>Receive from SMTPDISTANT" + Slot(index) + ": " + IdOf(index) + " " +
             HtmlEscape(reply) + "</FONT>");
    }
    Received(index).Add(reply);
    // Each complete reply runs one row, until the session ends (a free or
    // ending slot has no dialogue left to run).
    std::string complete;
    while (InSession(CnxOut(index).Status()) && Received(index).Take(&complete))
      SmtpDistant_DataArrival(index, complete);
  });
}

void ClientSession::OnSendComplete(int index) {
  Guard("FRM:MAIN[SmtpDistant_SendComplete]", [&] {
    CConnexion& cnx = CnxOut(index);
    if (cnx.Status() != kOutBodySending) return;
    cnx.SetStatus(kOutBodySent);
    StartReplyLimit(index);
  });
}

void ClientSession::OnClose(int index) {
  Guard("FRM:MAIN[SmtpDistant_Close]", [&] {
    if (!InSession(CnxOut(index).Status())) return;
    SmtpDistant_Error(index, kWsaEconnaborted, "Software caused connection abort.");
  });
}

void ClientSession::OnError(int index, int number, const std::string& description) {
  SmtpDistant_Error(index, number, description);
}

}  // namespace dorvane
