// The library's error model: a runtime-error number, a source naming the
// class and operation ("CDnsMessage.ComposeQuery") and a description. It
// crosses the component boundary as an MxErrorInfo.
#pragma once

#include <stdexcept>
#include <string>

namespace mxfinder {

class ComponentError : public std::runtime_error {
 public:
  ComponentError(long number, std::string source, const std::string& description)
      : std::runtime_error(description), number_(number), source_(std::move(source)) {}
  long number() const { return number_; }
  const std::string& source() const { return source_; }
  std::string description() const { return what(); }

 private:
  long number_;
  std::string source_;
};

}  // namespace mxfinder
