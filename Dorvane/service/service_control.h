// Starting and stopping the SMTP service, and the commands of the menu (and
// of the local control channel) that drive the running program.
#pragma once

#include <string>

namespace dorvane {

// Puts element 0 of Smtp into listening on Config().ListenPort. A port in
// use (10048) or refused for lack of privilege (10013) writes one error.txt
// line and leaves the service stopped; anything unexpected is fatal.
void Demarrer();
// Closes the listener (open sessions stay), logs, writes the DNS cache.
void Arreter();
// Whether the service listens (the menu's "Arrêter" is enabled).
bool ServiceStarted();

void mnustart_Click();
void mnustop_Click();
// Reloads the configuration and language; the listener keeps its port.
void mnureload_Click();
// Moves deferred mail back for sending, then scans OutBox.
void mnuflush_Click();
// Ends the program through Form_Unload.
void mnuquit_Click();

// Why the main window is being closed.
enum class UnloadMode { CloseBox, Program };
// True when the close is cancelled (the close box only hides the window).
bool Form_QueryUnload(UnloadMode mode);
// Stops the service, removes the tray icons and leaves the event loop.
void Form_Unload();
// The stop of Form_Unload without leaving the loop, once per form: the
// program can end by several paths ("Quitter", the session's end, a lost
// display) and each of them runs this.
void UnloadOnce();

// Runs one command of the control channel ("start", "stop", "reload",
// "flush", "quit", "status") as the menu would, and returns the answer.
// "start"/"stop" do nothing while that menu entry is disabled.
std::string RunCommand(const std::string& command);

// "state=started|stopped", "port=", then the file counts of OutBox,
// Deferred and Error, one "name=value" per line.
std::string StatusText();

}  // namespace dorvane
