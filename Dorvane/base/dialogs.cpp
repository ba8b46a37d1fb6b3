#include "base/dialogs.h"

#include <cstdio>

namespace dorvane {
namespace {

void Print(const std::string& text, const std::string& title) {
  std::fprintf(stderr, "[%s] %s\n", title.empty() ? "Dorvane" : title.c_str(), text.c_str());
  std::fflush(stderr);
}

}  // namespace

void StderrDialogs::Message(const std::string& text, const std::string& title, DialogIcon) {
  Print(text, title);
}

void StderrDialogs::Notice(const std::string& text, const std::string& title, DialogIcon) {
  Print(text, title);
}

bool StderrDialogs::Question(const std::string& text, const std::string& title, bool default_yes) {
  Print(text + (default_yes ? " [Oui]" : " [Non]"), title);
  return default_yes;
}

}  // namespace dorvane
