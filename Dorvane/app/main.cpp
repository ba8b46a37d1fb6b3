// dorvane: runs the relay, or hands a command to the running one. This is
// the one place that builds the environment and every module, and wires
// them to one another by constructor.
#include <signal.h>
#include <sys/stat.h>

#include <QApplication>
#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <utility>

#include "base/clock.h"
#include "base/dialogs.h"
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
#include "qt/control_channel.h"
#include "qt/install_registry.h"
#include "qt/main_form.h"
#include "qt/qt_event_loop.h"
#include "qt/signals.h"
#include "qt/update_service.h"
#include "relay/connexion.h"
#include "relay/environment.h"
#include "service/command_line.h"
#include "service/inbound_session.h"
#include "service/service_control.h"
#include "service/startup.h"
#include "shell/desktop_shell.h"
#include "shell/qt_dialogs.h"
#include "shell/window_language.h"
#include "update/update_check.h"

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

// The service that an exit() from inside the event loop must still stop.
// Exit handlers take no argument, so this pointer is their only way in.
ServiceControl* g_stop_at_exit = nullptr;

// The platform plugin calls exit() when the display connection breaks
// (logout without a session manager): the event loop never returns, so the
// stop runs among the exit handlers, with boxes on stderr (no display).
void StopAtExit() {
  ServiceControl* control = std::exchange(g_stop_at_exit, nullptr);
  if (!control) return;
  SetDialogs(nullptr);
  try {
    control->UnloadOnce();
  } catch (...) {  // nothing may leave an exit handler
  }
}

// Transitional: the modules that do not take the environment yet reach the
// form and the dialogs through the old accessors; they see the same objects.
class InstalledGlobals {
 public:
  InstalledGlobals(Form& form, Dialogs& dialogs) {
    SetForm(&form);
    SetDialogs(&dialogs);
  }
  ~InstalledGlobals() {
    SetForm(nullptr);
    SetDialogs(nullptr);
  }
};

// The running program: the environment and every module, built in the
// order they need one another and torn down in reverse.
class Program {
 public:
  Program(bool headless, std::optional<UpdateServer> update_server);
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // Start-up, then the event loop of `app` until the program ends; returns
  // the exit status.
  int Run(QCoreApplication& app);

 private:
  std::unique_ptr<ShellView> MakeShell(bool headless);
  ServiceCalls MakeServiceCalls();
  StartupCalls MakeStartupCalls();
  void ApplyLanguage();
  void ShowNewer();
  void AfterCommand(const std::string& command);
  void OnSignal(int number);

  // Transitional: the settings, slots and logs that the old accessors reach,
  // until no module uses those; then this program owns them.
  Settings& settings_ = GlobalSettings();
  SlotPools& pools_ = GlobalSlots();
  Logs& logs_ = GlobalLogs();
  DiskFiles files_;
  SystemClock clock_;
  QtEventLoop loop_;
  StderrDialogs stderr_dialogs_;
  QtDialogs desktop_dialogs_;
  Dialogs& dialogs_;
  UpdateService updates_;
  DesktopShell* desktop_ = nullptr;  // owned by form_; none headless
  QtForm form_;
  InstalledGlobals globals_;
  Environment env_;
  InboundSession inbound_;
  DeliveryService delivery_;
  StoreRegistry registry_;
  DesktopAutostart autostart_;
  ServiceControl control_;
  Startup startup_;
  ControlServer channel_;
};

Program::Program(bool headless, std::optional<UpdateServer> update_server)
    : dialogs_(headless ? static_cast<Dialogs&>(stderr_dialogs_) : desktop_dialogs_),
      updates_(std::move(update_server), dialogs_, [this] { ShowNewer(); }),
      form_(MakeShell(headless)),
      globals_(form_, dialogs_),
      env_{form_, pools_, settings_, logs_, dialogs_, files_, clock_, loop_},
      inbound_(env_, [this] { delivery_.queue().OutBoxTick(); }),
      delivery_(env_),
      control_(env_, autostart_, MakeServiceCalls()),
      startup_(env_, control_, MakeStartupCalls(), &registry_),
      channel_([this](const std::string& command) { return control_.RunCommand(command); },
               [this](const std::string& command) { AfterCommand(command); }) {
  QueueScan& queue = delivery_.queue();
  form_.SetTimerActions([&queue] { queue.OutBoxTick(); }, [&queue] { queue.DeferredTick(); });
}

std::unique_ptr<ShellView> Program::MakeShell(bool headless) {
  if (headless) return nullptr;
  ShellCommands commands;
  commands.start = [this] { control_.mnustart_Click(); };
  commands.stop = [this] { control_.mnustop_Click(); };
  commands.reload = [this] { control_.mnureload_Click(); };
  commands.flush = [this] { control_.mnuflush_Click(); };
  commands.quit = [this] { control_.mnuquit_Click(); };
  commands.check_update = [this] { updates_.CheckNow(); };
  commands.unload = [this] { control_.Form_Unload(); };
  commands.query_unload = [](bool from_close_box) {
    return Form_QueryUnload(from_close_box ? UnloadMode::CloseBox : UnloadMode::Program);
  };
  auto shell = std::make_unique<DesktopShell>(std::move(commands),
                                              DesktopEnvironment{dialogs_, settings_, pools_, logs_});
  desktop_ = shell.get();
  return shell;
}

ServiceCalls Program::MakeServiceCalls() {
  ServiceCalls calls;
  calls.open_dns_cache = DNSOpenCache;
  calls.write_dns_cache = DNSWriteCache;
  calls.flush = [this] { delivery_.queue().Flush(); };
  calls.scan_outbox = [this] { delivery_.queue().VerifOutBox(); };
  calls.leave_loop = [] { QCoreApplication::exit(0); };
  return calls;
}

StartupCalls Program::MakeStartupCalls() {
  StartupCalls calls;
  calls.resolver_version = [] { return MxfinderClient().GetVer(); };
  calls.apply_language = [this] { ApplyLanguage(); };
  calls.check_version = [this] { updates_.StartBackground(); };
  return calls;
}

// The desktop applies the loaded language to its windows and takes the
// run-time texts; headless, only the run-time texts are taken.
void Program::ApplyLanguage() {
  if (desktop_) return desktop_->ApplyLanguage();
  Guard("MOD:LANGUAGE[LOADValues]", [] { CONSTANTS = WindowTexts("mainf", LangEntries).constants; });
}

// A newer version: the desktop shows its icon and notice; headless, a line.
void Program::ShowNewer() {
  if (desktop_) return desktop_->ShowUpdateAvailable(true);
  dialogs_.Notice("Une version plus r\xC3\xA9" "cente de Dorvane est disponible: " + NewVersion, "",
                  DialogIcon::Information);
}

// Runs after the answer to a command has gone out.
void Program::AfterCommand(const std::string& command) {
  if (command != "quit") return;
  loop_.Post([this] { Guard("FRM:MAIN[mnuquit_Click]", [this] { control_.mnuquit_Click(); }); });
}

void Program::OnSignal(int number) {
  if (number == SIGHUP) control_.mnureload_Click();
  else control_.mnuquit_Click();
}

int Program::Run(QCoreApplication& app) {
  if (startup_.Form_Load() == StartOutcome::Ended) return 1;
  form_.tmrVerifOutBox().SetEnabled(true);
  form_.tmrVerifDeferred().SetEnabled(true);
  if (!channel_.Start()) std::fprintf(stderr, "Dorvane: canal de commande indisponible\n");
  InstallSignalHandlers([this](int number) { OnSignal(number); });
  // Every end of the program stops the service as "Quitter" does: the
  // loop's own end (session end, quit) and a process exit from inside it.
  QObject::connect(&app, &QCoreApplication::aboutToQuit,
                   [this] { Guard("FRM:MAIN[Form_Unload]", [this] { control_.UnloadOnce(); }); });
  g_stop_at_exit = &control_;
  std::atexit(StopAtExit);  // late: the statics it uses already exist
  int rc = app.exec();
  g_stop_at_exit = nullptr;
  return rc;
}

int RunProgram(bool headless, const std::optional<UpdateServer>& update_server, int argc, char** argv) {
  std::unique_ptr<QCoreApplication> app;
  if (headless) {
    app = std::make_unique<QCoreApplication>(argc, argv);
  } else {
    auto gui = std::make_unique<QApplication>(argc, argv);
    gui->setQuitOnLastWindowClosed(false);  // the tray keeps the program
    app = std::move(gui);
  }
  Program program(headless, update_server);
  return program.Run(*app);
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
