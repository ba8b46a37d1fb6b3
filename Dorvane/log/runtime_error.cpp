#include "log/runtime_error.h"

#include <new>

#include "log/logs.h"

namespace dorvane {

void Raise(long number, const std::string& source, const std::string& description) {
  throw RuntimeError(number, source, description);
}

std::string ErrorDescription(long number) {
  switch (number) {
    case kErrInvalidCall: return "Invalid procedure call or argument";
    case kErrOverflow: return "Overflow";
    case kErrOutOfMemory: return "Out of memory";
    case kErrSubscript: return "Subscript out of range";
    case kErrTypeMismatch: return "Type mismatch";
    case kErrFileNotFound: return "File not found";
    case kErrBadFileMode: return "Bad file mode";
    case kErrInputPastEnd: return "Input past end of file";
    case kErrPermissionDenied: return "Permission denied";
    case kErrPathNotFound: return "Path not found";
    case kErrObjectRequired: return "Object required";
    default: return "Application-defined or object-defined error";
  }
}

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
