// The writing side of Dorvane.ini: only the settings the user overrides are
// written, each in its commented block.
#include "base/dates.h"
#include "base/files.h"
#include "base/program.h"
#include "base/runtime_error.h"
#include "config/configuration.h"
#include "config/settings_table.h"
#include "log/logs.h"

namespace dorvane {
namespace {

class ConfLines {
 public:
  void Line(const std::string& text) { out_ += text + "\r\n"; }
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

// The blocks of the defined settings of `section`, in the table's order:
// comment lines, then key <tab> value, then an empty line except in the
// registry section. Inside a section every line is indented by a tab.
void WriteSection(const CConfiguration& c, FileSection section, ConfLines& f) {
  const std::string indent = section == FileSection::TopLevel ? "" : "\t";
  for (const SettingInfo& setting : SettingsTable()) {
    if (setting.section != section || !(c.*setting.defined)) continue;
    for (const char* comment : setting.comments) f.Line(indent + comment);
    f.Line(indent + setting.key + "\t" + SettingText(c, setting));
    if (section != FileSection::Registry) f.Line("");
  }
}

}  // namespace

std::string ConfText(const CConfiguration& config) {
  ConfLines f;
  WriteHeader(f);
  WriteSection(config, FileSection::TopLevel, f);
  f.Line("<Global>");
  WriteSection(config, FileSection::Global, f);
  f.Line("</Global>");
  f.Line("");
  f.Line("<Registry>");
  WriteSection(config, FileSection::Registry, f);
  f.Line("</Registry>");
  return f.Take();
}

void CConfiguration::WriteConf(Files& files, Logs& logs) const {
  std::string path = ProgramPath("Dorvane.ini");
  if (files.WriteDurable(path, ConfText(*this)) != 0)
    Raise(kErrPermissionDenied, "Dorvane", ErrorDescription(kErrPermissionDenied) + ": " + path);
  logs.MailLogAdd(GMTDate() + " Dorvane: Writing Dorvane.ini");
}

}  // namespace dorvane
