// Errors of the DNS codec. They are mxfinder::ComponentError with the
// runtime's numbers, so they cross the component boundary unchanged.
#pragma once

#include <string>

#include "resolver/component_error.h"

namespace mxfinder {

enum DnsErrorNumber : long {
  kDnsErrInvalidCall = 5,   // "Invalid procedure call or argument": unknown key
  kDnsErrOverflow = 6,      // "Overflow": a value does not fit its wire field
  kDnsErrSubscript = 9,     // "Subscript out of range": a read past the data
  kDnsErrDuplicateKey = 457,  // "This key is already associated with an element of this collection"
};

// Throws ComponentError(number, source, the runtime's text for number).
[[noreturn]] void RaiseDnsError(long number, const std::string& source);

// Runs body; a ComponentError escaping it is thrown again with the same
// number and description and `source` as its source. An operation uses it
// to name itself as the origin of any failure inside it.
template <class F>
auto WithErrorSource(const char* source, F&& body) -> decltype(body()) {
  try {
    return body();
  } catch (const ComponentError& e) {
    throw ComponentError(e.number(), source, e.description());
  }
}

}  // namespace mxfinder
