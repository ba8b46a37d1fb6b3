#include "delivery/client_session.h"

#include <utility>

#include "base/dialogs.h"
#include "base/program.h"
#include "base/runtime_error.h"
#include "config/configuration.h"
#include "config/smtp_secret.h"
#include "delivery/delivery_failure.h"
#include "delivery/outbound_slot.h"
#include "delivery/queue_scan.h"
#include "delivery/session_limits.h"
#include "delivery/spool_moves.h"
#include "log/guard.h"
#include "log/logs.h"
#include "relay/environment.h"
#include "relay/form.h"
#include "spool/message.h"
#include "spool/spool_file.h"

namespace dorvane {
namespace {

size_t At(int i) { return static_cast<size_t>(i); }

}  // namespace

ClientSession::ClientSession(Environment& env, SpoolMoves& moves, DeliveryFailure& failure, SessionLimits& limits,
                             QueueScan& queue)
    : env_(env), moves_(moves), failure_(failure), limits_(limits), queue_(queue) {}

DialogueState ClientSession::StateOf(int i) {
  const CConnexion& cnx = env_.pools.Out(i);
  DialogueState state = sessions_.at(At(i));
  state.status = cnx.Status();
  state.rcpt = cnx.CurrentRcptTo;
  return state;
}

DialogueSecurity ClientSession::SecurityOf(int i) {
  const CConfiguration& running = env_.settings.running;
  if (!env_.settings.file.SmtpServerDefined) {
    SocketArray& distant = env_.form.SmtpDistant();
    return DialogueSecurity{DialogueSecurity::kExchanger, false, distant.Exists(i) ? distant[i].RemoteHost() : "",
                            "", nullptr};
  }
  DialogueSecurity::Mode mode = DialogueSecurity::kPlain;
  if (running.SmtpSecurity == kSecurityStartTls) mode = DialogueSecurity::kStartTls;
  if (running.SmtpSecurity == kSecurityTls) mode = DialogueSecurity::kTls;
  Files& files = env_.files;
  return DialogueSecurity{mode, running.SmtpTlsVerify, running.SmtpServer, running.SmtpUser,
                          [&files] { return ReadSmtpSecret(files); }};
}

void ClientSession::Reconnect(int i) {
  SocketControl& socket = env_.form.SmtpDistant()[i];
  socket.Close();
  received_.at(At(i)).Clear();
  plain_next_.at(At(i)) = true;
  socket.Connect();
  limits_.StartConnect(i);
}

void ClientSession::Step(int i, const DialogueEvent& event) {
  CConnexion& cnx = env_.pools.Out(i);
  std::string peer;
  SocketArray& distant = env_.form.SmtpDistant();
  if (distant.Exists(i)) peer = PeerText(distant[i].RemoteHost(), distant[i].RemoteHostIP());
  DialogueStep step =
      StepDialogue(StateOf(i), event,
                   DialogueFacts{i, cnx.Message(), env_.settings.host_name, peer, SecurityOf(i), env_.logs.DebugOn()});
  // The state is set before the actions run: they may move it on (a failure
  // frees the slot or connects the next host).
  if (step.next.status != cnx.Status()) cnx.SetStatus(step.next.status);
  cnx.CurrentRcptTo = step.next.rcpt;
  sessions_.at(At(i)) = step.next;
  for (const DialogueAction& action : step.actions) Run(i, action);
}

void ClientSession::Run(int i, const DialogueAction& action) {
  using Action = DialogueAction;
  CConnexion& cnx = env_.pools.Out(i);
  switch (action.kind) {
    case Action::kSend: return env_.form.SmtpDistant()[i].SendData(action.text);
    case Action::kDebugLog: return env_.logs.DbgAdd(action.text);
    case Action::kMailLog: return env_.logs.MailLogAdd(LogStamp(env_.clock) + " " + action.text);
    case Action::kUnexpected:
      // Never modal: other deliveries go on while the box is up. Headless
      // there is no box and, by default, no debug log: a line the user reads.
      if (!env_.dialogs.Visible()) return env_.logs.MailLogAdd(LogStamp(env_.clock) + " " + action.text);
      return env_.dialogs.Notice("RECEIVED DATA NOT IMPLEMENTED ! See debug log ...", "", DialogIcon::Exclamation);
    case Action::kStartReplyLimit: return limits_.StartReply(i);
    case Action::kClose:
      if (env_.form.SmtpDistant().Exists(i)) env_.form.SmtpDistant()[i].Close();
      // Whatever the server sent after the reply that ended the session is
      // no reply to the next session on this slot.
      return received_.at(At(i)).Clear();
    case Action::kDelivered:
      moves_.Remove(kOutBox, cnx.CurrentOutFile);
      return queue_.Delivered(i);
    case Action::kRefuse: return failure_.Refuse(i, action.text, action.where);
    case Action::kReplyFailure: return failure_.ReplyFailure(i, action.text);
    case Action::kSocketFailure:
      plain_next_.at(At(i)) = false;
      return failure_.SocketError(i, action.number, action.text);
    case Action::kStartTls:
      // Whatever came in plain is dropped with the socket's own copy.
      received_.at(At(i)).Clear();
      return env_.form.SmtpDistant()[i].StartTls(TlsOptions{action.number != 0, action.text});
    case Action::kReconnect: return Reconnect(i);
    case Action::kAuthFailure: return failure_.AuthFailed(i, action.text);
    case Action::kRelease: return ReleaseSmtpDistant(env_, i);
    case Action::kScan: return queue_.PostScan();
  }
}

void ClientSession::OnConnect(int index) {
  Guard("FRM:MAIN[SmtpDistant_Connect]", [&] {
    // Nothing of an earlier connection is a reply, or an ending, here.
    received_.at(At(index)).Clear();
    sessions_.at(At(index)) = DialogueState{};
    sessions_.at(At(index)).plain_only = std::exchange(plain_next_.at(At(index)), false);
    Step(index, DialogueEvent{DialogueEvent::kConnect, "", 0});
  });
}

void ClientSession::OnTlsReady(int index) {
  Guard("FRM:MAIN[SmtpDistant_TlsReady]", [&] {
    received_.at(At(index)).Clear();
    SocketArray& distant = env_.form.SmtpDistant();
    const std::string description = distant.Exists(index) ? distant[index].TlsDescription() : "";
    Step(index, DialogueEvent{DialogueEvent::kTlsReady, description, 0});
  });
}

void ClientSession::OnDataArrival(int index, long bytes) {
  (void)bytes;
  Guard("FRM:MAIN[SmtpDistant_DataArrival]", [&] {
    const std::string reply = env_.form.SmtpDistant()[index].GetData();
    if (env_.settings.running.DebugMode) {
      env_.logs.DbgAdd("<FONT COLOR='#008800'>Receive from SMTPDISTANT[" + std::to_string(index) + "]: " +
                       env_.pools.Out(index).Message().ID + " " + HtmlEscape(reply) + "</FONT>");
    }
    ReplyBuffer& received = received_.at(At(index));
    received.Add(reply);
    // Each complete reply runs one step, until the session ends (a free or
    // ending slot has no dialogue left to run).
    std::string complete;
    while (InSession(env_.pools.Out(index).Status()) && received.Take(&complete))
      Step(index, DialogueEvent{DialogueEvent::kReply, complete, 0});
  });
}

void ClientSession::OnSendComplete(int index) {
  Guard("FRM:MAIN[SmtpDistant_SendComplete]",
        [&] { Step(index, DialogueEvent{DialogueEvent::kSendComplete, "", 0}); });
}

void ClientSession::OnClose(int index) {
  Guard("FRM:MAIN[SmtpDistant_Close]", [&] { Step(index, DialogueEvent{DialogueEvent::kClose, "", 0}); });
}

void ClientSession::OnError(int index, int number, const std::string& description) {
  Guard("FRM:MAIN[SmtpDistant_Error]",
        [&] { Step(index, DialogueEvent{DialogueEvent::kError, description, number}); });
}

void ClientSession::CheckLimits() {
  Guard("FRM:MAIN[tmrSessionLimit_Timer]", [this] {
    for (int i = kFirstSlot; i <= kLastSlot; ++i) {
      const int32_t status = env_.pools.Out(i).Status();
      if (!InSession(status) && status != kOutEnding) continue;
      if (!limits_.TakePassed(i)) continue;
      Step(i, DialogueEvent{DialogueEvent::kError, "Connection timed out.", kWsaEtimedout});
    }
  });
}

}  // namespace dorvane
