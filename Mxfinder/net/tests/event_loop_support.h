// Test helpers for code that needs a Qt event loop.
#pragma once

#include <functional>

namespace mxfinder::testing {

// Creates the process's QCoreApplication on first use.
void EnsureApplication();

// Runs the event loop until `done()` holds or `timeout_ms` has passed;
// returns done().
bool PumpUntil(const std::function<bool()>& done, int timeout_ms);

// Runs the event loop for `ms` milliseconds.
void PumpFor(int ms);

}  // namespace mxfinder::testing
