#include "log/logs.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "config/configuration.h"
#include "log/runtime_error.h"
#include "service/program.h"
#include "shell/dialogs.h"

namespace dorvane {
namespace {

void EndProcess(int status) { _exit(status); }

std::function<void(int)>& ExitFn() {
  static std::function<void(int)> fn = EndProcess;
  return fn;
}

// Appends `line` + CR LF to the program folder's file `name`; the file is
// closed again before returning. Throws RuntimeError on failure.
void AppendLine(const std::string& name, const std::string& line, const char* source) {
  std::string path = ProgramPath(name);
  std::FILE* f = std::fopen(path.c_str(), "ab");
  if (!f) {
    long number = errno == EACCES || errno == EROFS ? kErrPermissionDenied : kErrPathNotFound;
    Raise(number, source, ErrorDescription(number) + ": " + path);
  }
  std::string data = line + "\r\n";
  bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
  ok = std::fclose(f) == 0 && ok;
  if (!ok) Raise(kErrPermissionDenied, source, "Write failed: " + path);
}

}  // namespace

void DbgAdd(const std::string& text, int kind) {
  try {
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
    if (ConfigLoaded) {
      if (!Config().DebugMode) return;
      AppendLine("Debug.html", entry + "</FONT>", "DbgAdd");
    } else {
      AppendLine("Debug.html",
                 "<HR><FONT face='Verdana' size='2'><I>DEBUG - SAFE MODE - CONFIG NOT "
                 "LOADING</I></FONT>\r\n" + entry + "</FONT><HR>",
                 "DbgAdd");
    }
  } catch (const RuntimeError& e) {
    CurrentDialogs().Message("Erreur fatale dans la proc\xC3\xA9" "dure DbgAdd !\r\n\r\nSource: " +
                                 e.source() + "\r\nNum\xC3\xA9ro: " + std::to_string(e.number()) +
                                 "\r\nDescription: " + e.description() +
                                 "\r\n\r\nL'application ne peut continuer ...",
                             "Dorvane", DialogIcon::Critical);
    FatalExit(1);
  }
}

void MailLogAdd(const std::string& text) {
  DbgAdd("[MAILLOG]: " + HtmlEscape(text) + "<BR>", kDbgMailLog);
  AppendLine("maillog.txt", text, "MailLogAdd");
}

void ErrorLogAdd(const std::string& text) { AppendLine("error.txt", text, "ErrorLogAdd"); }

void UpdateLogAdd(const std::string& text) { AppendLine("update.txt", text, "UpdateLogAdd"); }

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

void ProgramError(const std::string& where, const std::string& number,
                  const std::string& description) {
  DbgAdd("<P><FONT COLOR='#FF0000'><B>ERREUR PROGRAMME <BR>Where: " + where +
             "<BR>Num\xC3\xA9ro: " + number + "<BR>Description: " + description + "</B></FONT>",
         kDbgPlain);
  CurrentDialogs().Message(
      "Une erreur est survenue dans Dorvane Version " + VersionText() +
          "\r\nSi vous avez activez l'option mode debug alors visualisez le fichier Debug.html"
          "\r\nCe fichier contient les erreurs survenues\r\n\r\nNous sommes d\xC3\xA9sol\xC3\xA9"
          " mais l'application ne peut continuer ...\r\n\r\n",
      "Erreur fatale", DialogIcon::Critical);
  FatalExit(1);
}

void SetFatalExit(std::function<void(int)> exit_fn) {
  ExitFn() = exit_fn ? std::move(exit_fn) : EndProcess;
}

void FatalExit(int status) {
  ExitFn()(status);
  _exit(status);  // an exit function that returns still ends the program
}

}  // namespace dorvane
