// Test helpers of every test that runs Qt's event loop: one Qt application
// for the whole test binary, a bounded wait that runs the event loop until a
// condition holds.
#pragma once

#include <functional>

namespace dorvane::test {

// Creates the QCoreApplication on first use.
void EnsureApp();

// Runs the event loop until `done` is true or `timeout_ms` have passed;
// returns done().
bool PumpUntil(const std::function<bool()>& done, int timeout_ms = 3000);

}  // namespace dorvane::test
