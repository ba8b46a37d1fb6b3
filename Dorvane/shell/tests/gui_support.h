// Helpers of the desktop tests: one QApplication for the test binary (the
// offscreen platform when none is set; create it before the event pump of
// qt/tests/event_loop_support.h runs) and the repository's shipped files.
#pragma once

#include <string>

namespace dorvane::test {

// Creates the QApplication on first use.
void EnsureGuiApp();

// The bytes of a file of the repository ("language/en.ini").
std::string ReadSource(const std::string& path);

}  // namespace dorvane::test
