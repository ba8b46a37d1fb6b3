// The four log files of the program folder and the common fatal-error
// report. Every write opens the file, appends one line (CR LF) and closes it,
// so each line is on disk when the call returns.
//
// Error policy: a line that cannot be written (a full disk, a log path that
// is not a file) is dropped, never fatal; the first failure of a run of
// failures on one file is reported by one line on standard error.
//
// maillog.txt, error.txt and update.txt hold one event per line: callers
// pass peer texts, so every text is cut down to one line here (OneLogLine).
#pragma once

#include <functional>
#include <optional>
#include <set>
#include <string>

namespace dorvane {

class Files;

// Debug entry kinds.
enum DebugKind { kDbgPlain = 0, kDbgBody = 1, kDbgArrow = 2, kDbgMailLog = 3, kDbgDnsCache = 4 };

// The four logs of one program folder, written through `files`.
class Logs {
 public:
  // `folder` ends with "/"; `files` must outlive the logs.
  Logs(Files& files, std::string folder);

  // Appends one HTML entry to Debug.html: in safe mode (no configuration
  // loaded yet) always, framed by the safe-mode header; afterwards only when
  // debug mode is on.
  void DbgAdd(const std::string& text, int kind = kDbgPlain);
  // What the loaded configuration says of debug mode: the configuration
  // pushes it each time its value changes. The log starts in safe mode.
  void SetDebugMode(bool debug) { debug_ = debug; }
  // Back to safe mode: the configuration is about to be loaded afresh.
  void SetDebugSafeMode() { debug_.reset(); }
  // Whether debug entries are written (safe mode included).
  bool DebugOn() const { return !debug_ || *debug_; }
  // Copies the text to the debug log ("[MAILLOG]: ", kind 3), then appends
  // it to maillog.txt, and to standard error when echo is on.
  void MailLogAdd(const std::string& text);
  // Each mail-log line also goes to standard error, whether or not the file
  // takes it (a journal that collects the relay's output shows it all).
  void SetMailLogEcho(bool echo) { echo_ = echo; }
  // Appends the text to error.txt, or to update.txt.
  void ErrorLogAdd(const std::string& text);
  void UpdateLogAdd(const std::string& text);

 private:
  void AppendLine(const std::string& name, const std::string& line);

  Files& files_;
  std::string folder_;
  std::optional<bool> debug_;        // nothing while in safe mode
  std::set<std::string> failing_;    // files whose last write failed
  bool echo_ = false;
};

// `text` without its control characters (bytes 0x00 to 0x1F, CR, LF, NUL
// and TAB included, and 0x7F), so that it stays one line of a log and no
// line can be planted in it.
std::string OneLogLine(const std::string& text);

// "<" -> "&lt;", ">" -> "&gt;", CR LF -> "<BR>", in that order.
std::string HtmlEscape(const std::string& text);

class Dialogs;

// What the common fatal-error report needs: the logs its debug entry goes
// to, the dialogs that show its box, and what ends the program.
struct FatalReport {
  Logs* logs = nullptr;        // not owned; must outlive its use
  Dialogs* dialogs = nullptr;  // not owned; must outlive its use
  // Ends the program with the given status; empty: _exit(status). Tests
  // install one that throws ProgramEnded, so they can observe the report.
  std::function<void(int)> exit;
};

// Installs what ProgramError uses, once (main, and each test program);
// returns what was installed before. Without logs the report writes no
// debug entry; without dialogs its box goes to standard error.
FatalReport InstallFatalReport(FatalReport report);

// The common fatal-error report: a red debug entry, the "Erreur fatale" box,
// then the program ends with a non-zero status through the installed
// report. Does not return.
[[noreturn]] void ProgramError(const std::string& where, const std::string& number,
                               const std::string& description);

// Thrown by a test's exit function in place of ending the process. Guards
// let it pass, so one fatal report is made, not one per guarded caller.
struct ProgramEnded {
  int status;
};

// Ends the program through the installed report's exit. Does not return.
[[noreturn]] void FatalExit(int status);

}  // namespace dorvane
