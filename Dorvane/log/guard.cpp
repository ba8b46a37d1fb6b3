#include "log/guard.h"

#include <new>

#include "log/logs.h"

namespace dorvane {

void ReportCurrentException(const std::string& where) {
  try {
    throw;
  } catch (const ProgramEnded&) {
    throw;  // the program is already ending
  } catch (const RuntimeError& e) {
    ProgramError(where, std::to_string(e.number()), e.description());
  } catch (const std::bad_alloc&) {
    ProgramError(where, std::to_string(kErrOutOfMemory), ErrorDescription(kErrOutOfMemory));
  } catch (const std::exception& e) {
    ProgramError(where, std::to_string(kErrInvalidCall), e.what());
  } catch (...) {
    ProgramError(where, std::to_string(kErrInvalidCall), ErrorDescription(kErrInvalidCall));
  }
}

}  // namespace dorvane
