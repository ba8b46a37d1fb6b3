// The program's model of an unexpected error: a number, a source and a
// description. Expected conditions (a refused relay, an unreachable host, a
// port in use) never use it; they are plain values. An unexpected error is
// thrown as RuntimeError, caught by the guard of the procedure or event
// handler that runs it (log/guard.h), and reported through ProgramError,
// which ends the program.
#pragma once

#include <exception>
#include <string>
#include <utility>

namespace dorvane {

// Error numbers of the runtime that the design's traces use.
enum ErrorNumber : long {
  kErrInvalidCall = 5,        // "Invalid procedure call or argument"
  kErrOverflow = 6,           // "Overflow"
  kErrOutOfMemory = 7,        // "Out of memory"
  kErrSubscript = 9,          // "Subscript out of range"
  kErrTypeMismatch = 13,      // "Type mismatch"
  kErrFileNotFound = 53,      // "File not found"
  kErrBadFileMode = 54,       // "Bad file mode"
  kErrInputPastEnd = 62,      // "Input past end of file"
  kErrPermissionDenied = 70,  // "Permission denied"
  kErrPathNotFound = 76,      // "Path not found"
  kErrObjectRequired = 424,   // "Object required"
};

class RuntimeError : public std::exception {
 public:
  RuntimeError(long number, std::string source, std::string description)
      : number_(number), source_(std::move(source)), description_(std::move(description)) {}

  long number() const { return number_; }
  const std::string& source() const { return source_; }
  const std::string& description() const { return description_; }
  const char* what() const noexcept override { return description_.c_str(); }

 private:
  long number_;
  std::string source_;
  std::string description_;
};

// Throws RuntimeError(number, source, description).
[[noreturn]] void Raise(long number, const std::string& source, const std::string& description);

// The standard description of a runtime error number ("Overflow" for 6);
// "Application-defined or object-defined error" for an unknown one.
std::string ErrorDescription(long number);

}  // namespace dorvane
