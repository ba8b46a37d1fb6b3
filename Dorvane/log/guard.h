// The guard every event handler and guarded procedure runs its body in: an
// exception that escapes is reported through ProgramError, which ends the
// program. It lives beside the log because the report writes Debug.html.
#pragma once

#include <string>

#include "base/runtime_error.h"

namespace dorvane {

// Reports the exception that is being handled through ProgramError with the
// trace name `where`. Call only inside a catch block.
[[noreturn]] void ReportCurrentException(const std::string& where);

// Runs body; any exception that escapes it is reported through ProgramError
// with the trace name `where` (which ends the program). Every event handler
// and guarded procedure runs its body through this, so no exception ever
// leaves a Qt slot.
template <class F>
auto Guard(const std::string& where, F&& body) -> decltype(body()) {
  try {
    return body();
  } catch (...) {
    ReportCurrentException(where);
  }
}

}  // namespace dorvane
