// dorvane: runs the relay, or hands a command to the running one. This is
// the one place that builds the environment and every module, and wires
// them to one another by constructor.
//
// Built twice: `dorvane` without the desktop ring (DORVANE_DESKTOP 0), so the
// relay without windows never loads the widget and display libraries, and
// `dorvane-desktop` with it, which `dorvane` becomes when there is a display.
#include <linux/capability.h>
#include <malloc.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QCoreApplication>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
#include "mx/cdns.h"
#include "mx/dns_cache.h"
#include "mx/mx_lookup.h"
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
#include "spool/queue_listing.h"
#include "spool/spool_committer.h"
#include "update/update_check.h"
#if DORVANE_DESKTOP
#include <QApplication>

#include "shell/desktop_shell.h"
#include "shell/qt_dialogs.h"
#endif

namespace {

using namespace dorvane;

// A queue command works on the spool folders itself: no relay, no Qt.
int RunQueue(const CommandLine& line) {
  DiskFiles files;
  std::string out, error;
  int rc = RunQueueCommand(files, line.command, line.argument, line.json, &out, &error);
  std::fputs(out.c_str(), stdout);
  if (!error.empty()) std::fprintf(stderr, "dorvane: %s", error.c_str());
  // A running relay sends a retried message now, not at its next listing.
  if (rc == 0 && line.command == "retry") SendControlCommand("scan", &out);
  return rc;
}

int HandOver(const std::string& command) {
  std::string answer;
  if (!SendControlCommand(command, &answer)) {
    std::fprintf(stderr, "Dorvane n'est pas lancé (%s)\n", ProgramFolder().c_str());
    return 1;
  }
  std::fputs(answer.c_str(), stdout);
  return 0;
}

#if DORVANE_DESKTOP
using DesktopDialogs = QtDialogs;
using Desktop = DesktopShell;
#else
// This build runs headless only: neither is ever chosen.
using DesktopDialogs = StderrDialogs;
struct Desktop {
  void ApplyLanguage() {}
  void ShowUpdateAvailable(bool) {}
};
#endif

// The program's dialogs: the desktop's boxes, or standard error headless
// and once the display is gone (an exit from inside the event loop).
class ProgramDialogs : public Dialogs {
 public:
  explicit ProgramDialogs(bool headless) : target_(headless ? &stderr_ : static_cast<Dialogs*>(&desktop_)) {}
  void Message(const std::string& text, const std::string& title, DialogIcon icon) override {
    target_->Message(text, title, icon);
  }
  void Notice(const std::string& text, const std::string& title, DialogIcon icon) override {
    target_->Notice(text, title, icon);
  }
  bool Question(const std::string& text, const std::string& title, bool default_yes) override {
    return target_->Question(text, title, default_yes);
  }
  bool Visible() const override { return target_->Visible(); }
  // No display any more: every box goes to standard error.
  void LoseDisplay() { target_ = &stderr_; }

 private:
  StderrDialogs stderr_;
  DesktopDialogs desktop_;
  Dialogs* target_;
};

// The service that an exit() from inside the event loop must still stop.
// Exit handlers take no argument, so this pointer is their only way in.
struct ExitStop {
  ServiceControl* control;
  ProgramDialogs* dialogs;
};
ExitStop g_stop_at_exit{};

// The platform plugin calls exit() when the display connection breaks
// (logout without a session manager): the event loop never returns, so the
// stop runs among the exit handlers, with boxes on stderr (no display).
void StopAtExit() {
  ExitStop stop = std::exchange(g_stop_at_exit, ExitStop{});
  if (!stop.control) return;
  stop.dialogs->LoseDisplay();
  try {
    stop.control->UnloadOnce();
  } catch (...) {  // nothing may leave an exit handler
  }
}

// The running program: the environment and every module, built in the
// order they need one another and torn down in reverse.
class Program {
 public:
  // `log_stderr`: each mail-log line also goes to standard error.
  Program(bool headless, bool log_stderr, std::optional<UpdateServer> update_server);
  ~Program() { InstallFatalReport(std::move(previous_report_)); }
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

  DiskFiles files_;
  SystemClock clock_;
  QtEventLoop loop_;
  Settings settings_;
  Logs logs_;
  DnsCache dns_cache_;
  MxLookup mx_lookup_ = LibraryMxLookup();
  ProgramDialogs dialogs_;
  FatalReport previous_report_;
  UpdateService updates_;
  Desktop* desktop_ = nullptr;  // owned by form_; none headless
  QtForm form_;
  SlotPools pools_;
  Environment env_;
  // Before inbound_: gone after it, once the messages handed to it are written.
  ThreadedSpoolCommitter committer_;
  InboundSession inbound_;
  DeliveryService delivery_;
  StoreRegistry registry_;
  DesktopAutostart autostart_;
  ServiceControl control_;
  Startup startup_;
  ControlServer channel_;
};

Program::Program(bool headless, bool log_stderr, std::optional<UpdateServer> update_server)
    : logs_(files_, ProgramFolder()),
      dns_cache_(files_, logs_),
      dialogs_(headless),
      previous_report_(InstallFatalReport({&logs_, &dialogs_, nullptr})),
      updates_(std::move(update_server), dialogs_, [this] { ShowNewer(); }),
      form_(MakeShell(headless)),
      pools_(form_.Shell(),
             [this] { return std::make_unique<CDns>(settings_, dns_cache_, mx_lookup_, logs_); }),
      env_{form_, pools_, settings_, logs_, dialogs_, files_, clock_, loop_},
      committer_(files_, loop_),
      inbound_(env_, committer_, [this] { delivery_.queue().OutBoxTick(); }),
      delivery_(env_),
      control_(env_, autostart_, MakeServiceCalls()),
      startup_(env_, control_, MakeStartupCalls(), &registry_),
      channel_([this](const std::string& command) { return control_.RunCommand(command); },
               [this](const std::string& command) { AfterCommand(command); }) {
  logs_.SetMailLogEcho(log_stderr);
  QueueScan& queue = delivery_.queue();
  inbound_.OnQueued([&queue](const std::string& name) { queue.Added(name); });
  form_.SetTimerActions([&queue] { queue.OutBoxTick(); }, [&queue] { queue.DeferredTick(); });
}

std::unique_ptr<ShellView> Program::MakeShell(bool headless) {
  if (headless) return nullptr;
#if DORVANE_DESKTOP
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
                                              DesktopEnvironment{dialogs_, settings_, pools_, logs_, files_});
  desktop_ = shell.get();
  return shell;
#else
  return nullptr;
#endif
}

ServiceCalls Program::MakeServiceCalls() {
  ServiceCalls calls;
  calls.open_dns_cache = [this] { dns_cache_.Open(); };
  calls.write_dns_cache = [this] { dns_cache_.Write(); };
  calls.flush = [this] { delivery_.queue().Flush(); };
  calls.scan_outbox = [this] { delivery_.queue().ScanNow(); };
  calls.relist_queue = [this] { delivery_.queue().Relist(); };
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
  Guard("MOD:LANGUAGE[LOADValues]",
        [this] { settings_.language.constants = WindowTexts("mainf", settings_.language.entries).constants; });
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
  if (!desktop_) {
    // Headless, the terminal (or the journal) is the only place to say it.
    std::fputs(HeadlessStartReport(ProgramFolder(), settings_.running.ListenPort, control_.LastStart(),
                                   ExecutableFolder() + "dorvane").c_str(), stdout);
    std::fflush(stdout);
  }
  form_.tmrVerifOutBox().SetEnabled(true);
  form_.tmrVerifDeferred().SetEnabled(true);
  if (!channel_.Start()) std::fprintf(stderr, "Dorvane: canal de commande indisponible\n");
  InstallSignalHandlers([this](int number) { OnSignal(number); });
  // Every end of the program stops the service as "Quitter" does: the
  // loop's own end (session end, quit) and a process exit from inside it.
  QObject::connect(&app, &QCoreApplication::aboutToQuit,
                   [this] { Guard("FRM:MAIN[Form_Unload]", [this] { control_.UnloadOnce(); }); });
  g_stop_at_exit = {&control_, &dialogs_};
  std::atexit(StopAtExit);  // late: the statics it uses already exist
  int rc = app.exec();
  g_stop_at_exit = {};
  return rc;
}

// The right to listen below port 1024, when this executable was given it
// (setcap), would be dropped by an exec of a file that lacks it: with
// `inherited`, the ambient set carries it over. The desktop build takes it
// out of the inherited sets at once, so nothing that it starts gets it.
void InheritPortRight(bool inherited) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  constexpr unsigned kBit = 1u << CAP_NET_BIND_SERVICE;  // in the first word
  if (::syscall(SYS_capget, &header, data) != 0 || !(data[0].permitted & kBit)) return;
  // Leaving the inheritable set also leaves the ambient one.
  data[0].inheritable = inherited ? data[0].inheritable | kBit : data[0].inheritable & ~kBit;
  if (::syscall(SYS_capset, &header, data) != 0 || !inherited) return;
  ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_RAISE, CAP_NET_BIND_SERVICE, 0, 0);
}

// With a display, this process becomes the desktop build beside it, with
// the same arguments and process id; returns only when that fails.
int BecomeDesktop(char** argv) {
  std::string path = ExecutableFolder() + "dorvane-desktop";
  InheritPortRight(true);
  ::execv(path.c_str(), argv);
  std::fprintf(stderr, "dorvane: %s: %s\n", path.c_str(), std::strerror(errno));
  return 1;
}

int RunProgram(bool headless, bool log_stderr, const std::optional<UpdateServer>& update_server, int argc,
               char** argv) {
  std::unique_ptr<QCoreApplication> app;
  if (headless) {
    // Qt's own event dispatcher: the glib one serves desktop integration
    // only, and its library pages cost the idle relay about 200 KiB. Kept
    // set for any thread that starts an event loop later; the relay starts
    // no program that could inherit it.
    qputenv("QT_NO_GLIB", "1");
    app = std::make_unique<QCoreApplication>(argc, argv);
  } else {
#if DORVANE_DESKTOP
    auto gui = std::make_unique<QApplication>(argc, argv);
    gui->setQuitOnLastWindowClosed(false);  // the tray keeps the program
    app = std::move(gui);
#endif
  }
  Program program(headless, log_stderr, update_server);
  return program.Run(*app);
}

}  // namespace

int main(int argc, char** argv) {
  // Message texts run to 64 MiB. With the threshold fixed, each large
  // buffer is a mapping of its own that goes back to the system when freed;
  // glibc would otherwise raise it after the first such free, and the texts
  // that slots and sessions held would stay in the heap once the queue is
  // drained.
  ::mallopt(M_MMAP_THRESHOLD, 128 * 1024);
  // Mail, logs and settings are the user's alone: whatever the relay (or a
  // library it uses) creates is 0600 / 0700.
  ::umask(077);
  // The start lines and the mail-log echo go to whoever reads our output; a
  // reader that went away must cost those lines, never the relay.
  ::signal(SIGPIPE, SIG_IGN);
  if (DORVANE_DESKTOP) InheritPortRight(false);
  CommandLine line = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (!line.error.empty()) {
    std::fprintf(stderr, "dorvane: %s\n%s", line.error.c_str(), kUsage);
    return 2;
  }
  if (line.help) {
    std::fputs(kHelp, stdout);
    return 0;
  }
  if (line.version) {
    std::printf("Dorvane %s\n", VersionText().c_str());
    return 0;
  }
  std::optional<UpdateServer> update_server = ParseUpdateServer(line.update_host);
  if (!line.update_host.empty() && !update_server) {
    std::fprintf(stderr, "dorvane: --update-host: HOST or HOST:PORT expected\n%s", kUsage);
    return 2;
  }
  std::string folder_error = UseProgramFolder(line.home, ExecutableFolder(), std::getenv);
  if (!folder_error.empty()) {
    std::fprintf(stderr, "dorvane: %s\n", folder_error.c_str());
    return 1;
  }
  if (IsQueueCommand(line.command)) return RunQueue(line);
  if (!line.command.empty()) {
    QCoreApplication app(argc, argv);
    return HandOver(line.command);
  }
  bool headless = line.headless || !DisplayAvailable(std::getenv);
  if (!headless && !DORVANE_DESKTOP) return BecomeDesktop(argv);
  if (headless) std::fprintf(stderr, "Dorvane: fonctionnement sans fenêtre (headless)\n");
  bool log_stderr = line.log_stderr || UnderServiceManager(std::getenv);
  return RunProgram(headless, log_stderr, update_server, argc, argv);
}
