#include "base/socket_control.h"

namespace dorvane {

std::string WinsockErrorText(int number) {
  switch (number) {
    case kWsaEacces: return "Permission denied";
    case kWsaEaddrinuse: return "Address in use";
    case 10049: return "Address not available from the local machine";
    case 10050: return "The network subsystem has failed";
    case 10051: return "The network cannot be reached from this host at this time";
    case kWsaEconnaborted: return "Connection is aborted due to timeout or other failure";
    case kWsaEconnreset: return "Connection is reset by remote side";
    case kWsaEtimedout: return "Attempt to connect timed out";
    case kWsaEconnrefused: return "Connection is forcefully rejected";
    case kWsaEhostunreach: return "No route to host";
    case kWsaHostNotFound: return "Authoritative answer: Host not found";
    case kWsaBadState: return "Wrong protocol or connection state for the requested transaction or request";
    case kWsaInvalidOp: return "Invalid operation at current state";
    case kTlsFailure: return "TLS negotiation failed";
    default: return "Socket error " + std::to_string(number);
  }
}

}  // namespace dorvane
