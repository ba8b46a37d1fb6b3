#include "base/field_reader.h"

#include <cerrno>
#include <cstdio>

#include "base/runtime_error.h"

namespace dorvane {
namespace {

bool IsLineEnd(const std::string& s, size_t i) {
  return s[i] == '\n' || (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n');
}

// Moves `i` past the line end at `i` (CR LF or LF).
size_t SkipLineEnd(const std::string& s, size_t i) { return i + (s[i] == '\r' ? 2 : 1); }

// Reads the quoted field whose opening quote is at `i`; returns the index of
// the comma or line end (or the end of `s`) that closes the field.
size_t ReadQuoted(const std::string& s, size_t i, std::string& field) {
  ++i;
  while (i < s.size() && s[i] != '"' && !IsLineEnd(s, i)) field += s[i++];
  if (i < s.size() && s[i] == '"') ++i;
  while (i < s.size() && s[i] != ',' && !IsLineEnd(s, i)) ++i;
  return i;
}

}  // namespace

std::vector<std::string> ReadFields(const std::string& s) {
  std::vector<std::string> fields;
  size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    std::string field;
    if (i < s.size() && s[i] == '"') {
      i = ReadQuoted(s, i, field);
    } else {
      while (i < s.size() && s[i] != ',' && !IsLineEnd(s, i)) field += s[i++];
    }
    fields.push_back(field);
    if (i >= s.size()) break;
    if (s[i] == ',') {
      ++i;
      // A comma that ends its line still opens an (empty) field.
      if (i >= s.size() || IsLineEnd(s, i)) fields.emplace_back();
      if (i < s.size() && IsLineEnd(s, i)) i = SkipLineEnd(s, i);
    } else {
      i = SkipLineEnd(s, i);
    }
  }
  return fields;
}

std::string TrimSpaces(const std::string& text) {
  size_t b = text.find_first_not_of(' ');
  if (b == std::string::npos) return "";
  size_t e = text.find_last_not_of(' ');
  return text.substr(b, e - b + 1);
}

std::string ReplaceAll(const std::string& text, const std::string& what, const std::string& with) {
  if (what.empty()) return text;
  std::string out;
  size_t from = 0;
  for (size_t at; (at = text.find(what, from)) != std::string::npos; from = at + what.size()) {
    out.append(text, from, at - from);
    out += with;
  }
  out.append(text, from, std::string::npos);
  return out;
}

std::string ReadFileBytes(const std::string& path, const std::string& source) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    long number = errno == ENOENT ? kErrFileNotFound : kErrPermissionDenied;
    Raise(number, source, ErrorDescription(number) + ": " + path);
  }
  std::string bytes;
  char buf[8192];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) bytes.append(buf, n);
  bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed)
    Raise(kErrPermissionDenied, source, ErrorDescription(kErrPermissionDenied) + ": " + path);
  return bytes;
}

}  // namespace dorvane
