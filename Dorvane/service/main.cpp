// dorvane: runs the relay, or hands a command to the running one.
#include <signal.h>
#include <sys/stat.h>

#include <QApplication>
#include <QCoreApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "base/clock.h"
#include "base/files.h"
#include "base/program.h"
#include "base/runtime_error.h"
#include "config/configuration.h"
#include "config/language.h"
#include "delivery/delivery_service.h"
#include "delivery/queue_scan.h"
#include "log/guard.h"
#include "log/logs.h"
#include "mx/dns_cache.h"
#include "mx/mxfinder_client.h"
#include "qt/qt_event_loop.h"
#include "relay/connexion.h"
#include "relay/environment.h"
#include "service/command_line.h"
#include "service/control_channel.h"
#include "service/hooks.h"
#include "service/inbound_session.h"
#include "service/install_registry.h"
#include "service/main_form.h"
#include "service/service_control.h"
#include "service/signals.h"
#include "service/startup.h"
#include "shell/desktop_shell.h"
#include "shell/qt_dialogs.h"
#include "update/update_check.h"
#include "update/update_service.h"

namespace {

using namespace dorvane;

int HandOver(const std::string& command) {
  std::string answer;
  if (!SendControlCommand(command, &answer)) {
    std::fprintf(stderr, "Dorvane n'est pas lancé (%s)\n", ProgramFolder().c_str());
    return 1;
  }
  std::fputs(answer.c_str(), stdout);
  return 0;
}

// The main window's captions follow the language once the desktop shell
// applies them; the run-time texts are taken here.
void ApplyLanguage() {
  Guard("MOD:LANGUAGE[LOADValues]", [] { CONSTANTS = WindowTexts("mainf", LangEntries).constants; });
}

void WireHooks() {
  static StoreRegistry registry;
  Hooks().mxfinder_version = [] { return MxfinderClient().GetVer(); };
  Hooks().apply_language = ApplyLanguage;
  Hooks().registry = &registry;
  Hooks().dns_open_cache = DNSOpenCache;
  Hooks().dns_write_cache = DNSWriteCache;
  Hooks().flush = Flush;
  Hooks().verif_outbox = VerifOutBox;
  Hooks().verif_deferred = VerifDeferred;
}

std::unique_ptr<DesktopShell> MakeDesktopShell(UpdateService& updates) {
  ShellCommands commands;
  commands.start = mnustart_Click;
  commands.stop = mnustop_Click;
  commands.reload = mnureload_Click;
  commands.flush = mnuflush_Click;
  commands.quit = mnuquit_Click;
  commands.check_update = [&updates] { updates.CheckNow(); };
  commands.unload = Form_Unload;
  commands.query_unload = [](bool from_close_box) {
    return Form_QueryUnload(from_close_box ? UnloadMode::CloseBox : UnloadMode::Program);
  };
  return std::make_unique<DesktopShell>(std::move(commands));
}

// Runs after the answer to a command has gone out.
void AfterCommand(const std::string& command) {
  if (command != "quit") return;
  QTimer::singleShot(0, [] { Guard("FRM:MAIN[mnuquit_Click]", mnuquit_Click); });
}

void OnSignal(int number) {
  if (number == SIGHUP) mnureload_Click();
  else mnuquit_Click();
}

// A newer version: the desktop shows its icon and notice; headless, a line.
void ShowNewer(DesktopShell* desktop) {
  if (desktop) return desktop->ShowUpdateAvailable(true);
  CurrentDialogs().Notice("Une version plus r\xC3\xA9" "cente de Dorvane est disponible: " + NewVersion, "",
                          DialogIcon::Information);
}

// True while the form is installed: an exit outside that has nothing to stop.
bool g_form_installed = false;

// The platform plugin calls exit() when the display connection breaks
// (logout without a session manager): the event loop never returns, so the
// stop runs among the exit handlers, with boxes on stderr (no display).
void StopAtExit() {
  if (!g_form_installed) return;
  SetDialogs(nullptr);
  try {
    UnloadOnce();
  } catch (...) {  // nothing may leave an exit handler
  }
}

// Every end of the program stops the service as "Quitter" does: the loop's
// own end (session end, quit) and a process exit from inside the loop.
void StopOnEveryExit(QCoreApplication& app) {
  QObject::connect(&app, &QCoreApplication::aboutToQuit, [] { Guard("FRM:MAIN[Form_Unload]", UnloadOnce); });
  std::atexit(StopAtExit);  // late: the statics it uses already exist
}

int RunProgram(bool headless, const std::optional<UpdateServer>& update_server, int argc, char** argv) {
  std::unique_ptr<QCoreApplication> app;
  QtDialogs desktop_dialogs;
  if (headless) {
    app = std::make_unique<QCoreApplication>(argc, argv);
  } else {
    auto gui = std::make_unique<QApplication>(argc, argv);
    gui->setQuitOnLastWindowClosed(false);  // the tray keeps the program
    app = std::move(gui);
    SetDialogs(&desktop_dialogs);
  }
  WireHooks();
  DesktopShell* desktop = nullptr;
  UpdateService updates(update_server, [&desktop] { ShowNewer(desktop); });
  Hooks().version_check = [&updates] { updates.StartBackground(); };
  std::unique_ptr<ShellView> shell;
  if (!headless) {
    auto made = MakeDesktopShell(updates);
    desktop = made.get();
    shell = std::move(made);
    Hooks().apply_language = [desktop] { desktop->ApplyLanguage(); };
  }
  QtForm form(std::move(shell));
  SetForm(&form);
  g_form_installed = true;
  form.SetTimerActions(tmrVerifOutBox_Timer, tmrVerifDeferred_Timer);
  DiskFiles files;
  SystemClock clock;
  QtEventLoop loop;
  Environment env{form, GlobalSlots(), GlobalSettings(), GlobalLogs(), CurrentDialogs(), files, clock, loop};
  InboundSession inbound(env, tmrVerifOutBox_Timer);
  DeliveryService delivery(form);
  if (Form_Load() == StartOutcome::Ended) return 1;
  form.tmrVerifOutBox().SetEnabled(true);
  form.tmrVerifDeferred().SetEnabled(true);
  ControlServer control(RunCommand, AfterCommand);
  if (!control.Start()) std::fprintf(stderr, "Dorvane: canal de commande indisponible\n");
  InstallSignalHandlers(OnSignal);
  StopOnEveryExit(*app);
  int rc = app->exec();
  g_form_installed = false;
  SetForm(nullptr);
  SetDialogs(nullptr);
  return rc;
}

}  // namespace

int main(int argc, char** argv) {
  // Mail, logs and settings are the user's alone: whatever the relay (or a
  // library it uses) creates is 0600 / 0700.
  ::umask(077);
  CommandLine line = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (!line.error.empty()) {
    std::fprintf(stderr, "dorvane: %s\n%s", line.error.c_str(), kUsage);
    return 2;
  }
  std::optional<UpdateServer> update_server = ParseUpdateServer(line.update_host);
  if (!line.update_host.empty() && !update_server) {
    std::fprintf(stderr, "dorvane: --update-host: HOST or HOST:PORT expected\n%s", kUsage);
    return 2;
  }
  if (line.home.empty()) {
    SetProgramFolder(ExecutableFolder());
  } else {
    std::error_code ec;
    std::filesystem::create_directories(line.home, ec);
    SetProgramFolder(std::filesystem::absolute(line.home, ec).lexically_normal().string());
  }
  if (!line.command.empty()) {
    QCoreApplication app(argc, argv);
    return HandOver(line.command);
  }
  bool headless = line.headless || !DisplayAvailable(std::getenv);
  if (headless) std::fprintf(stderr, "Dorvane: fonctionnement sans fenêtre (headless)\n");
  SetHeadless(headless);
  return RunProgram(headless, update_server, argc, argv);
}
