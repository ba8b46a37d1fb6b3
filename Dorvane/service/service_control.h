// Starting and stopping the SMTP service, and the commands of the menu (and
// of the local control channel) that drive the running program.
#pragma once

#include <functional>
#include <string>

namespace dorvane {

struct Environment;

// Runs `call` when it is set: an empty collaborator does nothing.
inline void RunIfSet(const std::function<void()>& call) {
  if (call) call();
}

// The desktop session's autostart entry, as the settings want it.
class Autostart {
 public:
  virtual ~Autostart() = default;
  // Brings the entry in line with the ComputerStart setting just loaded.
  virtual void Follow(bool computer_start) = 0;
};

// What the service commands need from the delivery side, the DNS cache and
// the event loop; an empty call does nothing.
struct ServiceCalls {
  // Loads / writes the DNS cache file (service start / stop).
  std::function<void()> open_dns_cache;
  std::function<void()> write_dns_cache;
  // Moves the deferred queue back to OutBox; scans OutBox at once.
  std::function<void()> flush;
  std::function<void()> scan_outbox;
  // Leaves the event loop: the program ends once the handler returns.
  std::function<void()> leave_loop;
  // Lists the queue folders afresh, once the settings are (re)loaded.
  std::function<void()> relist_queue;
};

// How the last start of the service went.
enum class ListenOutcome {
  NotTried,      // no start yet (LaunchStart is off)
  Listening,
  PortInUse,     // another program holds the port
  NoPermission,  // a port below 1024 without the right to bind it
};

// What a headless start prints on standard output, one line each: the
// program folder, then the port and whether the service listens, or why not
// and what to do about it. `executable` is the program's path (the setcap
// hint names it).
std::string HeadlessStartReport(const std::string& folder, int port, ListenOutcome outcome,
                                const std::string& executable);

// Why the main window is being closed.
enum class UnloadMode { CloseBox, Program };
// True when the close is cancelled (the close box only hides the window).
bool Form_QueryUnload(UnloadMode mode);

// The service on one environment: its listener is element 0 of the form's
// Smtp array, its settings are env.settings.running.
struct ControlReply;

class ServiceControl {
 public:
  // `env` and `autostart` must outlive this object.
  ServiceControl(Environment& env, Autostart& autostart, ServiceCalls calls);

  // Puts element 0 of Smtp into listening on ListenPort. A port in use
  // (10048) or refused for lack of privilege (10013) writes one error.txt
  // line and leaves the service stopped; anything unexpected is fatal.
  void Demarrer();
  // Closes the listener (open sessions stay), logs, writes the DNS cache.
  void Arreter();
  // Whether the service listens (the menu's "Arrêter" is enabled).
  bool Started() const;
  // How the last Demarrer went.
  ListenOutcome LastStart() const { return last_start_; }

  // ChargerConfig(true), then the autostart entry follows the loaded
  // ComputerStart and the queue is listed afresh: what start-up and the
  // reload command run.
  void LoadConfiguration();

  void mnustart_Click() { Demarrer(); }
  void mnustop_Click() { Arreter(); }
  // Reloads the configuration and language; the listener keeps its port.
  void mnureload_Click() { LoadConfiguration(); }
  // Moves deferred mail back for sending, then scans OutBox.
  void mnuflush_Click();
  // Ends the program through Form_Unload.
  void mnuquit_Click();

  // Stops the service, removes the tray icons and leaves the event loop.
  void Form_Unload();
  // The stop of Form_Unload without leaving the loop, once per form: the
  // program can end by several paths ("Quitter", the session's end, a lost
  // display) and each of them runs this.
  void UnloadOnce();

  // Runs one command of the control channel ("start", "stop", "reload",
  // "flush", "quit", "status") as the menu would, and returns the answer.
  // "start"/"stop" do nothing while that menu entry is disabled. "scan"
  // scans OutBox alone: unlike "flush", deferred mail keeps its delay.
  // Answers come from section CONTROL of the language in use (built-in
  // French otherwise); "status" is for scripts and stays as it is.
  std::string RunCommand(const std::string& command);

  // "state=started|stopped", "port=", then the file counts of OutBox,
  // Deferred and Error, one "name=value" per line.
  std::string StatusText() const;

 private:
  void SetMenus(bool started);
  // `reply` in the language in use, then `tail`, then a line end.
  std::string Answer(const ControlReply& reply, const std::string& tail = "") const;

  Environment& env_;
  Autostart& autostart_;
  ServiceCalls calls_;
  ListenOutcome last_start_ = ListenOutcome::NotTried;
};

}  // namespace dorvane
