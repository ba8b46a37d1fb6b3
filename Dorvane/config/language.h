// Language files: <program folder>/language/<name>.ini replaces the built-in
// French texts of the windows. LOADFile reads a file into a LanguageTexts;
// WindowTexts computes what one window takes from them, which the shell
// applies to its widgets.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace dorvane {

class Files;
class Logs;

// One "key=value" line of a section.
struct LangEntry {
  std::string section;
  std::string key;
  std::string value;
};

bool operator==(const LangEntry& a, const LangEntry& b);

// The texts built into run-time captions; index 0 is unused.
using LanguageConstants = std::array<std::string, 5>;

// The language in use.
struct LanguageTexts {
  // The entries of the last LOADFile, in file order.
  std::vector<LangEntry> entries;
  // Texts built into run-time captions; index 0 is unused. Emptied by
  // LOADFile, set to their defaults (and overrides) when a window loads.
  std::array<std::string, 5> constants;
};

// "", "Outrepasser la valeur par défaut", "Défaut", "Oui", "Non".
std::array<std::string, 5> DefaultConstants();

// The entries of a language file's bytes: lines read with the configuration
// file's field rule; "<NAME>" opens a section, "</...>" closes it; a line
// with exactly one "=" inside a section is an entry (key and value trimmed,
// double quotes removed from the value); all else is ignored.
std::vector<LangEntry> ParseLanguage(const std::string& bytes);

// Clears `language`, then reads language/<name>.ini of the program folder
// through `files` when it exists and writes the mail-log line " Dorvane:
// Chargement du langage" to `logs`. A missing file is not an error. A name
// that is not letters, digits, "-" and "_" (at most 64) loads nothing, so
// the built-in French stays, and is told in error.txt. Read errors are
// reported as "MOD:LANGUAGE[LOADFile]".
void LOADFile(LanguageTexts& language, Logs& logs, Files& files, const std::string& name);

// The value of the last entry `key` of section `section` in `entries`;
// `fallback` (the built-in French) when there is none or it is empty.
std::string LanguageText(const std::vector<LangEntry>& entries, const std::string& section,
                         const std::string& key, const std::string& fallback);

// One text for one control of a window. `prefix` is "CPT" (caption), "TIP"
// (tooltip) or "NOD" (a node of the window's Categories tree); `name` is the
// control's name, or for "NOD" the node key ("cat_" + name in lower case).
struct ControlText {
  std::string prefix;
  std::string name;
  std::string value;
};

bool operator==(const ControlText& a, const ControlText& b);

// What a window takes from the language when it loads.
struct WindowLanguage {
  std::vector<ControlText> controls;     // in file order: later ones win
  std::array<std::string, 5> constants;  // the new LanguageTexts::constants
};

// The texts that `entries` give the window named `window` ("mainf" reads
// section MAIN, "FRMConfiguration" section CONFIGURATION, any other window
// none) and the CONSTANTS (defaults, then "CST" entries of section
// CONSTANTS). Throws RuntimeError when a "CST" index is not a number from 0
// to 4; the shell reports it as "MOD:LANGUAGE[LOADValues]", as it does a
// control that its window lacks.
WindowLanguage WindowTexts(const std::string& window, const std::vector<LangEntry>& entries);

}  // namespace dorvane
