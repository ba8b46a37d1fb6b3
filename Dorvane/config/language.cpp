#include "config/language.h"

#include <algorithm>
#include <cctype>
#include <cerrno>

#include "base/dates.h"
#include "base/field_reader.h"
#include "base/files.h"
#include "base/program.h"
#include "base/runtime_error.h"
#include "config/configuration.h"
#include "log/guard.h"
#include "log/logs.h"

namespace dorvane {
namespace {

std::string WindowSection(const std::string& window) {
  if (window == "mainf") return "MAIN";
  if (window == "FRMConfiguration") return "CONFIGURATION";
  return "";
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// The CONSTANTS index that a "CST" name ends with (its last two characters).
size_t ConstantIndex(const std::string& name) {
  std::string digits = name.size() > 2 ? name.substr(name.size() - 2) : name;
  auto is_digit = [](unsigned char c) { return std::isdigit(c) != 0; };
  if (digits.empty() || !std::all_of(digits.begin(), digits.end(), is_digit))
    Raise(kErrTypeMismatch, "Dorvane", ErrorDescription(kErrTypeMismatch));
  size_t index = std::stoul(digits);
  if (index > 4) Raise(kErrSubscript, "Dorvane", ErrorDescription(kErrSubscript));
  return index;
}

// Letters, digits, "-" and "_": a name that can only ever name a file of
// the language folder (no "/", no NUL to cut the path short).
bool IsLanguageName(const std::string& name) {
  auto allowed = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_';
  };
  return !name.empty() && name.size() <= 64 && std::all_of(name.begin(), name.end(), allowed);
}

}  // namespace

bool operator==(const LangEntry& a, const LangEntry& b) {
  return a.section == b.section && a.key == b.key && a.value == b.value;
}

bool operator==(const ControlText& a, const ControlText& b) {
  return a.prefix == b.prefix && a.name == b.name && a.value == b.value;
}

std::array<std::string, 5> DefaultConstants() {
  return {"",
          "Outrepasser la valeur par d\xC3\xA9"
          "faut",
          "D\xC3\xA9"
          "faut",
          "Oui", "Non"};
}

std::vector<LangEntry> ParseLanguage(const std::string& bytes) {
  std::vector<LangEntry> entries;
  std::string section;
  for (std::string line : ReadFields(bytes)) {
    line = TrimSpaces(ReplaceAll(line, "\t", " "));
    if (line.starts_with('<') && line.ends_with('>')) {
      section = line.starts_with("</") ? "" : ReplaceAll(ReplaceAll(line, "<", ""), ">", "");
      continue;
    }
    size_t eq = line.find('=');
    if (section.empty() || eq == std::string::npos || line.find('=', eq + 1) != std::string::npos)
      continue;
    entries.push_back({section, TrimSpaces(line.substr(0, eq)),
                       ReplaceAll(TrimSpaces(line.substr(eq + 1)), "\"", "")});
  }
  return entries;
}

void LOADFile(LanguageTexts& language, Logs& logs, Files& files, const std::string& name) {
  Guard("MOD:LANGUAGE[LOADFile]", [&] {
    language = {};
    if (!IsLanguageName(name)) {
      logs.ErrorLogAdd(GMTDate() + " Dorvane: nom de langue refus\xC3\xA9 '" + name +
                       "' (lettres, chiffres, - et _ seulement), fran\xC3\xA7"
                       "ais utilis\xC3\xA9");
      return;
    }
    std::string path = ProgramPath("language/" + name + ".ini");
    std::string bytes;
    int err = files.Read(path, &bytes);
    if (err == ENOENT) return;
    if (err != 0)
      Raise(kErrPermissionDenied, "Dorvane", ErrorDescription(kErrPermissionDenied) + ": " + path);
    language.entries = ParseLanguage(bytes);
    logs.MailLogAdd(GMTDate() + " Dorvane: Chargement du langage");
  });
}

WindowLanguage WindowTexts(const std::string& window, const std::vector<LangEntry>& entries) {
  WindowLanguage result{{}, DefaultConstants()};
  std::string section = WindowSection(window);
  for (const LangEntry& e : entries) {
    std::string prefix = e.key.substr(0, 3);
    std::string name = ReplaceAll(e.key, prefix + "_", "");
    if (!section.empty() && e.section == section) {
      if (prefix == "CPT" || prefix == "TIP") result.controls.push_back({prefix, name, e.value});
      if (prefix == "NOD") result.controls.push_back({prefix, "cat_" + Lower(name), e.value});
    } else if (e.section == "CONSTANTS" && prefix == "CST") {
      result.constants[ConstantIndex(name)] = e.value;
    }
  }
  return result;
}

std::string LanguageText(const std::vector<LangEntry>& entries, const std::string& section,
                         const std::string& key, const std::string& fallback) {
  auto found = std::find_if(entries.rbegin(), entries.rend(),
                            [&](const LangEntry& e) { return e.section == section && e.key == key; });
  return found == entries.rend() || found->value.empty() ? fallback : found->value;
}

}  // namespace dorvane
