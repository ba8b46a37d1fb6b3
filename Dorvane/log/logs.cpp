#include "log/logs.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <set>
#include <utility>

#include "base/dialogs.h"
#include "base/files.h"
#include "base/program.h"

namespace dorvane {
namespace {

// The one report of the process: an error can happen anywhere, also where
// nothing was handed an environment.
FatalReport& Installed() {
  static FatalReport report;
  return report;
}

// The dialogs of the report; standard error until some are installed.
Dialogs& ReportDialogs() {
  static StderrDialogs stderr_dialogs;
  FatalReport& report = Installed();
  return report.dialogs ? *report.dialogs : stderr_dialogs;
}

}  // namespace

Logs::Logs(Files& files, std::string folder) : files_(files), folder_(std::move(folder)) {}

// Appends `line` + CR LF to the folder's file `name`. A line that cannot be
// written is dropped: the log must never be what stops the relay.
void Logs::AppendLine(const std::string& name, const std::string& line) {
  int err = files_.Append(folder_ + name, line + "\r\n");
  if (err == 0) {
    failing_.erase(name);
    return;
  }
  if (!failing_.insert(name).second) return;
  std::fprintf(stderr, "Dorvane: %s inaccessible (%s), lignes de log perdues\n", name.c_str(),
               std::strerror(err));
}

void Logs::DbgAdd(const std::string& text, int kind) {
  if (!DebugOn()) return;
  std::string colour, marker;
  switch (kind) {
    case kDbgBody:
      colour = " COLOR='#0000FF'";
      marker = "<FONT face='Wingdings' size='3'>\xC3\xAF</FONT> ";  // ï
      break;
    case kDbgArrow: marker = "<FONT face='Wingdings' size='3'>\xC3\xB0</FONT> "; break;  // ð
    case kDbgMailLog: marker = "<FONT face='Wingdings' size='3'>3</FONT> "; break;
    case kDbgDnsCache: colour = " COLOR='#FF8000'"; break;
    default: break;
  }
  std::string entry = "<FONT face='Verdana' size='2'" + colour + ">" + marker + text + "\r\n";
  if (debug_) {
    AppendLine("Debug.html", entry + "</FONT>");
  } else {
    AppendLine("Debug.html",
               "<HR><FONT face='Verdana' size='2'><I>DEBUG - SAFE MODE - CONFIG NOT "
               "LOADING</I></FONT>\r\n" + entry + "</FONT><HR>");
  }
}

void Logs::MailLogAdd(const std::string& text) {
  std::string line = OneLogLine(text);
  if (DebugOn()) DbgAdd("[MAILLOG]: " + HtmlEscape(line) + "<BR>", kDbgMailLog);
  AppendLine("maillog.txt", line);
  if (echo_) std::fprintf(stderr, "%s\n", line.c_str());
}

void Logs::ErrorLogAdd(const std::string& text) { AppendLine("error.txt", OneLogLine(text)); }

void Logs::UpdateLogAdd(const std::string& text) { AppendLine("update.txt", OneLogLine(text)); }

std::string OneLogLine(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7F) out += c;
  }
  return out;
}

std::string HtmlEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 16);
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '<') {
      out += "&lt;";
    } else if (c == '>') {
      out += "&gt;";
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      out += "<BR>";
      ++i;
    } else {
      out += c;
    }
  }
  return out;
}

FatalReport InstallFatalReport(FatalReport report) { return std::exchange(Installed(), std::move(report)); }

void ProgramError(const std::string& where, const std::string& number,
                  const std::string& description) {
  if (Logs* logs = Installed().logs)
    logs->DbgAdd("<P><FONT COLOR='#FF0000'><B>ERREUR PROGRAMME <BR>Where: " + where +
                          "<BR>Num\xC3\xA9ro: " + number + "<BR>Description: " + description + "</B></FONT>",
                      kDbgPlain);
  ReportDialogs().Message(
      "Une erreur est survenue dans Dorvane Version " + VersionText() +
          "\r\nSi vous avez activez l'option mode debug alors visualisez le fichier Debug.html"
          "\r\nCe fichier contient les erreurs survenues\r\n\r\nNous sommes d\xC3\xA9sol\xC3\xA9"
          " mais l'application ne peut continuer ...\r\n\r\n",
      "Erreur fatale", DialogIcon::Critical);
  FatalExit(1);
}

void FatalExit(int status) {
  if (Installed().exit) Installed().exit(status);
  _exit(status);  // an exit function that returns still ends the program
}

}  // namespace dorvane
