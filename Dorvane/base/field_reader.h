// Reading of the program's people-edited text files (Dorvane.ini and the
// language files): the bytes of a file become a list of entries, one per
// comma-separated field. Pure functions over byte strings.
#pragma once

#include <string>
#include <vector>

namespace dorvane {

// Splits `bytes` into fields. Lines end with CR LF or LF. On each line a
// field starts after any blanks (spaces, tabs) and ends at a comma or at the
// end of the line, so a line of N commas gives N + 1 fields and an empty line
// one empty field. A field that starts with a double quote runs to the
// closing quote; both quotes are dropped and what follows the closing quote
// up to the next comma or line end is skipped. An unclosed quote ends at the
// end of its line rather than swallowing the rest of the file.
std::vector<std::string> ReadFields(const std::string& bytes);

// `text` without its leading and trailing spaces (character 32 only).
std::string TrimSpaces(const std::string& text);

// `text` with every occurrence of `what` replaced by `with`, scanning left to
// right without re-reading inserted text. An empty `what` changes nothing.
std::string ReplaceAll(const std::string& text, const std::string& what, const std::string& with);

// The whole content of the file at `path`. Throws RuntimeError (53 when the
// file is missing, 70 when it cannot be read) with `source` as its source.
std::string ReadFileBytes(const std::string& path, const std::string& source);

}  // namespace dorvane
