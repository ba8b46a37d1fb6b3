// Helpers of the desktop tests: one QApplication for the test binary (the
// offscreen platform when none is set), a bounded event-loop wait, and the
// repository's shipped files.
#pragma once

#include <functional>
#include <string>

namespace dorvane::test {

// Creates the QApplication on first use.
void EnsureGuiApp();

// Runs the event loop until `done` is true or `timeout_ms` have passed;
// returns done().
bool WaitFor(const std::function<bool()>& done, int timeout_ms = 3000);

// The bytes of a file of the repository ("language/en.ini").
std::string ReadSource(const std::string& path);

}  // namespace dorvane::test
