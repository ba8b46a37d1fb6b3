#include "dns/dns_error.h"

namespace mxfinder {

namespace {

const char* ErrorText(long number) {
  switch (number) {
    case kDnsErrInvalidCall: return "Invalid procedure call or argument";
    case kDnsErrOverflow: return "Overflow";
    case kDnsErrSubscript: return "Subscript out of range";
    case kDnsErrDuplicateKey: return "This key is already associated with an element of this collection";
    default: return "Application-defined or object-defined error";
  }
}

}  // namespace

void RaiseDnsError(long number, const std::string& source) { throw ComponentError(number, source, ErrorText(number)); }

}  // namespace mxfinder
