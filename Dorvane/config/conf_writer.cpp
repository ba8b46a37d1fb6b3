// The writing side of Dorvane.ini: only the settings the user overrides are
// written, each in its commented block.
#include <cstdio>

#include "base/dates.h"
#include "base/program.h"
#include "base/runtime_error.h"
#include "config/configuration.h"
#include "log/logs.h"

namespace dorvane {
namespace {

class ConfLines {
 public:
  void Line(const std::string& text) { out_ += text + "\r\n"; }
  // "\t" + key + "\t" + value, or without the leading tab at the top level.
  void Pair(bool indented, const std::string& key, const std::string& value) {
    Line((indented ? "\t" : "") + key + "\t" + value);
  }
  std::string Take() { return std::move(out_); }

 private:
  std::string out_;
};

void WriteHeader(ConfLines& f) {
  f.Line("# Fichier de configuration de Dorvane");
  f.Line("# Placer un di\xC3\xA8se '#' devant une ligne pour qu'elle devienne un commentaire");
  f.Line("");
  f.Line(
      "# Version de Dorvane pour ce fichier de configuration (derni\xC3\xA8re \xC3\xA9"
      "criture logicielle)");
  f.Line("# Dorvane Version " + VersionText());
  f.Line("");
}

void WriteTopLevel(const CConfiguration& c, ConfLines& f) {
  if (c.DebugModeDefined) f.Pair(false, "Debug", OnOffText(c.DebugMode)), f.Line("");
  if (c.ListenPortDefined) f.Pair(false, "ListenPort", std::to_string(c.ListenPort)), f.Line("");
  if (c.LanguageDefined) f.Pair(false, "Language", c.Language), f.Line("");
  if (c.MaxNbrAttemptDefined) {
    f.Line(
        "# Nombre maximal de tentatives d'envoi en cas d'\xC3\xA9"
        "chec");
    f.Pair(false, "MaxNbrAttempt", std::to_string(c.MaxNbrAttempt));
    f.Line("");
  }
  if (c.AttemptDelayDefined) {
    f.Line(
        "# Nombre de minutes avant la prochaine tentative d'envoi apr\xC3\xA8s un \xC3\xA9"
        "chec");
    f.Pair(false, "AttemptDelay", std::to_string(c.AttemptDelay));
    f.Line("");
  }
}

void WriteGlobal(const CConfiguration& c, ConfLines& f) {
  f.Line("<Global>");
  if (c.LaunchStartDefined) {
    f.Line("\t# D\xC3\xA9marrer Dorvane \xC3\xA0 son lancement");
    f.Pair(true, "LaunchStart", OnOffText(c.LaunchStart));
    f.Line("");
  }
  if (c.KeepLocalDefined) {
    f.Line("\t# Forcer Dorvane \xC3\xA0 accepter les mails mais les laisser");
    f.Line("\t# dans le r\xC3\xA9pertoire local d'envoi 'OutBox'");
    f.Pair(true, "KeepLocal", OnOffText(c.KeepLocal));
    f.Line("");
  }
  if (c.DNSServerDefined) {
    f.Line("\t# Serveur DNS (g\xC3\xA9n\xC3\xA9ralement celui de votre FAI)");
    f.Pair(true, "#DNSServer", "127.0.0.1");
    f.Pair(true, "DNSServer", c.DNSServer);
    f.Line("");
  }
  if (c.SmtpServerDefined) {
    f.Line("\t# Serveur SMTP (pour tous message sortant)");
    f.Pair(true, "SmtpServer", c.SmtpServer);
    f.Line("");
  }
  if (c.RelayDefined) {
    f.Line("\t# Etre relai pour le r\xC3\xA9seau 192.168.x.x");
    f.Pair(true, "Relay", OnOffText(c.Relay));
    f.Line("");
  }
  f.Line("</Global>");
  f.Line("");
}

void WriteRegistry(const CConfiguration& c, ConfLines& f) {
  f.Line("<Registry>");
  if (c.ComputerStartDefined) f.Pair(true, "ComputerStart", OnOffText(c.ComputerStart));
  f.Line("</Registry>");
}

}  // namespace

std::string ConfText(const CConfiguration& config) {
  ConfLines f;
  WriteHeader(f);
  WriteTopLevel(config, f);
  WriteGlobal(config, f);
  WriteRegistry(config, f);
  return f.Take();
}

void CConfiguration::WriteConf() const {
  std::string path = ProgramPath("Dorvane.ini");
  std::string bytes = ConfText(*this);
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f)
    Raise(kErrPermissionDenied, "Dorvane", ErrorDescription(kErrPermissionDenied) + ": " + path);
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = std::fclose(f) == 0 && ok;
  if (!ok) Raise(kErrPermissionDenied, "Dorvane", "Write failed: " + path);
  MailLogAdd(GMTDate() + " Dorvane: Writing Dorvane.ini");
}

}  // namespace dorvane
