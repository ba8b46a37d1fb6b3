#include "service/service_control.h"

#include <QCoreApplication>
#include <filesystem>

#include "base/dates.h"
#include "base/program.h"
#include "base/runtime_error.h"
#include "config/configuration.h"
#include "log/guard.h"
#include "log/logs.h"
#include "relay/form.h"
#include "service/hooks.h"
#include "service/startup.h"

namespace dorvane {
namespace {

std::string Tooltip(bool started) {
  return "Dorvane " + VersionText() + (started ? " [Démarré]" : " [Arrêté]");
}

// "Démarrer" is enabled exactly while the service is stopped.
void SetMenus(Form& form, bool started) {
  form.mnustartEnabled = !started;
  form.mnustopEnabled = started;
  form.Shell().SetStartStopEnabled(!started, started);
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

}  // namespace

void Demarrer() {
  Guard("MOD:MODULE[Demarrer]", [] {
    Form& form = CurrentForm();
    SocketControl& listener = form.Smtp()[0];
    std::string port = std::to_string(Config().ListenPort);
    listener.SetLocalPort(Config().ListenPort);
    int rc = listener.Listen();
    // Both are conditions of the machine, not faults: the user frees the
    // port or changes ListenPort and starts again.
    if (rc == kWsaEaddrinuse) {
      ErrorLogAdd(GMTDate() + " Port " + port + " utilisé par une autre application");
      return;
    }
    if (rc == kWsaEacces) {
      ErrorLogAdd(GMTDate() + " Port " + port + " non autorisé (droits insuffisants)");
      return;
    }
    if (rc != 0) Raise(rc, "Smtp", WinsockErrorText(rc));
    MailLogAdd(GMTDate() + " Dorvane Start of SMTP service");
    form.Shell().ShowServiceState(true, Tooltip(true));
    RunHook(Hooks().dns_open_cache);
    SetMenus(form, true);
  });
}

void Arreter() {
  Guard("MOD:MODULE[Arreter]", [] {
    Form& form = CurrentForm();
    form.Smtp()[0].Close();
    MailLogAdd(GMTDate() + " Dorvane SMTP service stopped");
    form.Shell().ShowServiceState(false, Tooltip(false));
    RunHook(Hooks().dns_write_cache);
    SetMenus(form, false);
  });
}

bool ServiceStarted() { return CurrentForm().mnustopEnabled; }

void mnustart_Click() { Demarrer(); }
void mnustop_Click() { Arreter(); }
void mnureload_Click() { LoadConfiguration(); }

void mnuflush_Click() {
  RunHook(Hooks().flush);
  RunHook(Hooks().verif_outbox);
}

void mnuquit_Click() {
  if (!Form_QueryUnload(UnloadMode::Program)) Form_Unload();
}

bool Form_QueryUnload(UnloadMode mode) { return mode == UnloadMode::CloseBox; }

void Form_Unload() {
  UnloadOnce();
  QCoreApplication::exit(0);
}

void UnloadOnce() {
  Form& form = CurrentForm();
  if (form.unloaded) return;
  form.unloaded = true;
  Arreter();
  form.Shell().RemoveTrayIcons();
}

std::string StatusText() {
  Form& form = CurrentForm();
  bool started = ServiceStarted();
  int port = started ? form.Smtp()[0].LocalPort() : Config().ListenPort;
  return std::string("state=") + (started ? "started" : "stopped") + "\nport=" + std::to_string(port) +
         "\nOutBox=" + std::to_string(CountFiles("OutBox")) + "\nDeferred=" +
         std::to_string(CountFiles("Deferred")) + "\nError=" + std::to_string(CountFiles("Error")) + "\n";
}

std::string RunCommand(const std::string& command) {
  Form& form = CurrentForm();
  if (command == "start") {
    if (!form.mnustartEnabled) return "Service déjà démarré\n";
    mnustart_Click();
    return ServiceStarted() ? "Service démarré\n" : "Service arrêté (voir error.txt)\n";
  }
  if (command == "stop") {
    if (!form.mnustopEnabled) return "Service déjà arrêté\n";
    mnustop_Click();
    return "Service arrêté\n";
  }
  if (command == "reload") {
    mnureload_Click();
    return "Configuration rechargée\n";
  }
  if (command == "flush") {
    mnuflush_Click();
    return "File deferred remise en envoi\n";
  }
  if (command == "status") return StatusText();
  if (command == "quit") return "Arrêt de Dorvane\n";  // the caller quits once the answer is out
  return "Commande inconnue: " + command + "\n";
}

}  // namespace dorvane
