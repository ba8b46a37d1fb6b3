#include "service/service_control.h"

#include <filesystem>

#include "base/dates.h"
#include "base/program.h"
#include "base/runtime_error.h"
#include "config/configuration.h"
#include "log/guard.h"
#include "log/logs.h"
#include "relay/environment.h"
#include "relay/form.h"

namespace dorvane {

// An answer of the control channel: its key in section CONTROL of the
// language file, and the built-in French text.
struct ControlReply {
  const char* key;
  const char* text;
};

namespace {

std::string Tooltip(bool started) {
  return "Dorvane " + VersionText() + (started ? " [Démarré]" : " [Arrêté]");
}

size_t CountFiles(const std::string& folder) {
  std::error_code ec;
  size_t n = 0;
  for (auto it = std::filesystem::directory_iterator(ProgramPath(folder), ec);
       !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    if (it->is_regular_file(ec)) ++n;
  }
  return n;
}

constexpr ControlReply kAlreadyStarted{"MSG_AlreadyStarted", "Service déjà démarré"};
constexpr ControlReply kStarted{"MSG_Started", "Service démarré"};
constexpr ControlReply kStartFailed{"MSG_StartFailed", "Service arrêté (voir error.txt)"};
constexpr ControlReply kAlreadyStopped{"MSG_AlreadyStopped", "Service déjà arrêté"};
constexpr ControlReply kStopped{"MSG_Stopped", "Service arrêté"};
constexpr ControlReply kReloaded{"MSG_Reloaded", "Configuration rechargée"};
constexpr ControlReply kFlushed{"MSG_Flushed", "File deferred remise en envoi"};
constexpr ControlReply kScanned{"MSG_Scanned", "OutBox examinée"};
constexpr ControlReply kQuitting{"MSG_Quitting", "Arrêt de Dorvane"};
constexpr ControlReply kUnknown{"MSG_Unknown", "Commande inconnue:"};

}  // namespace

ServiceControl::ServiceControl(Environment& env, Autostart& autostart, ServiceCalls calls)
    : env_(env), autostart_(autostart), calls_(std::move(calls)) {}

// "Démarrer" is enabled exactly while the service is stopped.
void ServiceControl::SetMenus(bool started) {
  env_.form.mnustartEnabled = !started;
  env_.form.mnustopEnabled = started;
  env_.form.Shell().SetStartStopEnabled(!started, started);
}

void ServiceControl::Demarrer() {
  Guard("MOD:MODULE[Demarrer]", [this] {
    SocketControl& listener = env_.form.Smtp()[0];
    int16_t listen_port = env_.settings.running.ListenPort;
    std::string port = std::to_string(listen_port);
    listener.SetLocalPort(listen_port);
    int rc = listener.Listen();
    // Both are conditions of the machine, not faults: the user frees the
    // port or changes ListenPort and starts again.
    if (rc == kWsaEaddrinuse) {
      last_start_ = ListenOutcome::PortInUse;
      env_.logs.ErrorLogAdd(GMTDate() + " Port " + port + " utilisé par une autre application");
      return;
    }
    if (rc == kWsaEacces) {
      last_start_ = ListenOutcome::NoPermission;
      env_.logs.ErrorLogAdd(GMTDate() + " Port " + port + " non autorisé (droits insuffisants)");
      return;
    }
    if (rc != 0) Raise(rc, "Smtp", WinsockErrorText(rc));
    last_start_ = ListenOutcome::Listening;
    env_.logs.MailLogAdd(GMTDate() + " Dorvane Start of SMTP service");
    env_.form.Shell().ShowServiceState(true, Tooltip(true));
    RunIfSet(calls_.open_dns_cache);
    SetMenus(true);
  });
}

void ServiceControl::Arreter() {
  Guard("MOD:MODULE[Arreter]", [this] {
    env_.form.Smtp()[0].Close();
    env_.logs.MailLogAdd(GMTDate() + " Dorvane SMTP service stopped");
    env_.form.Shell().ShowServiceState(false, Tooltip(false));
    RunIfSet(calls_.write_dns_cache);
    SetMenus(false);
  });
}

bool ServiceControl::Started() const { return env_.form.mnustopEnabled; }

void ServiceControl::LoadConfiguration() {
  ChargerConfig(env_.settings, env_.logs, env_.files, true);
  autostart_.Follow(env_.settings.running.ComputerStart);
  RunIfSet(calls_.relist_queue);
}

void ServiceControl::mnuflush_Click() {
  RunIfSet(calls_.flush);
  RunIfSet(calls_.scan_outbox);
}

void ServiceControl::mnuquit_Click() {
  if (!Form_QueryUnload(UnloadMode::Program)) Form_Unload();
}

bool Form_QueryUnload(UnloadMode mode) { return mode == UnloadMode::CloseBox; }

void ServiceControl::Form_Unload() {
  UnloadOnce();
  RunIfSet(calls_.leave_loop);
}

void ServiceControl::UnloadOnce() {
  Form& form = env_.form;
  if (form.unloaded) return;
  form.unloaded = true;
  Arreter();
  form.Shell().RemoveTrayIcons();
}

std::string ServiceControl::StatusText() const {
  bool started = Started();
  int port = started ? env_.form.Smtp()[0].LocalPort() : env_.settings.running.ListenPort;
  return std::string("state=") + (started ? "started" : "stopped") + "\nport=" + std::to_string(port) +
         "\nOutBox=" + std::to_string(CountFiles("OutBox")) + "\nDeferred=" +
         std::to_string(CountFiles("Deferred")) + "\nError=" + std::to_string(CountFiles("Error")) + "\n";
}

std::string ServiceControl::Answer(const ControlReply& reply, const std::string& tail) const {
  return LanguageText(env_.settings.language.entries, "CONTROL", reply.key, reply.text) + tail + "\n";
}

std::string ServiceControl::RunCommand(const std::string& command) {
  Form& form = env_.form;
  if (command == "start") {
    if (!form.mnustartEnabled) return Answer(kAlreadyStarted);
    mnustart_Click();
    return Answer(Started() ? kStarted : kStartFailed);
  }
  if (command == "stop") {
    if (!form.mnustopEnabled) return Answer(kAlreadyStopped);
    mnustop_Click();
    return Answer(kStopped);
  }
  if (command == "reload") {
    mnureload_Click();
    return Answer(kReloaded);  // in the language just loaded
  }
  if (command == "flush") {
    mnuflush_Click();
    return Answer(kFlushed);
  }
  if (command == "scan") {  // what the local mail command asks once it queued a message
    RunIfSet(calls_.scan_outbox);
    return Answer(kScanned);
  }
  if (command == "status") return StatusText();  // read by scripts: never translated
  if (command == "quit") return Answer(kQuitting);  // the caller quits once the answer is out
  return Answer(kUnknown, " " + command);
}

std::string HeadlessStartReport(const std::string& folder, int port, ListenOutcome outcome,
                                const std::string& executable) {
  std::string p = std::to_string(port);
  std::string state;
  switch (outcome) {
    case ListenOutcome::Listening: state = "service SMTP en \xC3\xA9" "coute sur le port " + p; break;
    case ListenOutcome::NotTried: state = "service SMTP arr\xC3\xAAt\xC3\xA9 (LaunchStart Off), port " + p; break;
    case ListenOutcome::PortInUse:
      state = "port " + p + " utilis\xC3\xA9 par une autre application, service SMTP arr\xC3\xAAt\xC3\xA9";
      break;
    case ListenOutcome::NoPermission:
      state = "port " + p + " non autoris\xC3\xA9 (droits insuffisants), service SMTP arr\xC3\xAAt\xC3\xA9 ; " +
              "donnez ce droit au programme (setcap cap_net_bind_service=+ep " + executable +
              ") ou choisissez un ListenPort au-dessus de 1023 dans " + folder + "Dorvane.ini";
      break;
  }
  return "Dorvane: dossier du programme " + folder + "\nDorvane: " + state + "\n";
}

}  // namespace dorvane
