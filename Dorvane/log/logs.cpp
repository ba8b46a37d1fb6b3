#include "log/logs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <set>

#include "base/dialogs.h"
#include "base/program.h"

namespace dorvane {
namespace {

void EndProcess(int status) { _exit(status); }

std::function<void(int)>& ExitFn() {
  static std::function<void(int)> fn = EndProcess;
  return fn;
}

// Appends every byte of `data` to the file at `path` (created 0600); on a
// failure the file is cut back to its old length, so a half-written line
// never joins the next one. Returns 0 or the errno of the failure.
int AppendBytes(const std::string& path, const std::string& data) {
  int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return errno;
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    int err = errno;
    ::close(fd);
    return err;
  }
  int err = 0;
  for (size_t done = 0; err == 0 && done < data.size();) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) err = n < 0 ? errno : EIO;
    else done += static_cast<size_t>(n);
  }
  if (err != 0) (void)::ftruncate(fd, st.st_size);
  if (::close(fd) != 0 && err == 0) err = errno;
  return err;
}

// Debug mode as last pushed; nothing while in safe mode.
std::optional<bool>& DebugSetting() {
  static std::optional<bool> debug;
  return debug;
}

// Files whose last write failed: each run of failures is told once.
std::set<std::string>& FailingFiles() {
  static std::set<std::string> files;
  return files;
}

// Appends `line` + CR LF to the program folder's file `name`. A line that
// cannot be written is dropped: the log must never be what stops the relay.
void AppendLine(const std::string& name, const std::string& line) {
  int err = AppendBytes(ProgramPath(name), line + "\r\n");
  if (err == 0) {
    FailingFiles().erase(name);
    return;
  }
  if (!FailingFiles().insert(name).second) return;
  std::fprintf(stderr, "Dorvane: %s inaccessible (%s), lignes de log perdues\n", name.c_str(),
               std::strerror(err));
}

}  // namespace

void DbgAdd(const std::string& text, int kind) {
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
  if (DebugSetting()) {
    if (!*DebugSetting()) return;
    AppendLine("Debug.html", entry + "</FONT>");
  } else {
    AppendLine("Debug.html",
               "<HR><FONT face='Verdana' size='2'><I>DEBUG - SAFE MODE - CONFIG NOT "
               "LOADING</I></FONT>\r\n" + entry + "</FONT><HR>");
  }
}

void SetDebugMode(bool debug) { DebugSetting() = debug; }

void SetDebugSafeMode() { DebugSetting().reset(); }

void MailLogAdd(const std::string& text) {
  std::string line = OneLogLine(text);
  DbgAdd("[MAILLOG]: " + HtmlEscape(line) + "<BR>", kDbgMailLog);
  AppendLine("maillog.txt", line);
}

void ErrorLogAdd(const std::string& text) { AppendLine("error.txt", OneLogLine(text)); }

void UpdateLogAdd(const std::string& text) { AppendLine("update.txt", OneLogLine(text)); }

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
