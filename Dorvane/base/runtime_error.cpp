#include "base/runtime_error.h"

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

}  // namespace dorvane
