#include "net/socket_errors.h"

#include <cerrno>
#include <unordered_map>

namespace mxfinder {

std::string GetErrorDescription(int code) {
  static const std::unordered_map<int, const char*> kTexts = {
      {10004, "Interrupted function call."},
      {10013, "Permission denied."},
      {10014, "Bad address."},
      {10022, "Invalid argument."},
      {10024, "Too many open files."},
      {10035, "Resource temporarily unavailable."},
      {10036, "Operation now in progress."},
      {10037, "Operation already in progress."},
      {10038, "Socket operation on nonsocket."},
      {10039, "Destination address required."},
      {10040, "Message too long."},
      {10041, "Protocol wrong type for socket."},
      {10042, "Bad protocol option."},
      {10043, "Protocol not supported."},
      {10044, "Socket type not supported."},
      {10045, "Operation not supported."},
      {10046, "Protocol family not supported."},
      {10047, "Address family not supported by protocol family."},
      {10048, "Address already in use."},
      {10049, "Cannot assign requested address."},
      {10050, "Network is down."},
      {10051, "Network is unreachable."},
      {10052, "Network dropped connection on reset."},
      {10053, "Software caused connection abort."},
      {10054, "Connection reset by peer."},
      {10055, "No buffer space available."},
      {10056, "Socket is already connected."},
      {10057, "Socket is not connected."},
      {10058, "Cannot send after socket shutdown."},
      {10060, "Connection timed out."},
      {10061, "Connection refused."},
      {10064, "Host is down."},
      {10065, "No route to host."},
      {10067, "Too many processes."},
      {10091, "Network subsystem is unavailable."},
      {10092, "Winsock.dll version out of range."},
      {10093, "Successful WSAStartup not yet performed."},
      {10101, "Graceful shutdown in progress."},
      {10107, "System call failure."},
      {10109, "Class type not found."},
      {11001, "Host not found."},
      {11002, "Nonauthoritative host not found."},
      {11003, "This is a nonrecoverable error."},
      {11004, "Valid name, no data record of requested type."},
      {40006, "Wrong protocol or connection state for the requested transaction or request."},
  };
  auto it = kTexts.find(code);
  return it == kTexts.end() ? "Unknown error." : it->second;
}

int WinsockCodeFromErrno(int error_number) {
  static const std::unordered_map<int, int> kCodes = {
      {EINTR, 10004},          {EACCES, 10013},       {EPERM, 10013},
      {EFAULT, 10014},         {EINVAL, 10022},       {EMFILE, 10024},
      {ENFILE, 10024},         {EWOULDBLOCK, 10035},  {EINPROGRESS, 10036},
      {EALREADY, 10037},       {ENOTSOCK, 10038},     {EBADF, 10038},
      {EDESTADDRREQ, 10039},   {EMSGSIZE, 10040},     {EPROTOTYPE, 10041},
      {ENOPROTOOPT, 10042},    {EPROTONOSUPPORT, 10043}, {ESOCKTNOSUPPORT, 10044},
      {EOPNOTSUPP, 10045},     {EPFNOSUPPORT, 10046}, {EAFNOSUPPORT, 10047},
      {EADDRINUSE, 10048},     {EADDRNOTAVAIL, 10049}, {ENETDOWN, 10050},
      {ENETUNREACH, 10051},    {ENETRESET, 10052},    {ECONNABORTED, 10053},
      {ECONNRESET, 10054},     {EPIPE, 10054},        {ENOBUFS, 10055},
      {EISCONN, 10056},        {ENOTCONN, 10057},     {ESHUTDOWN, 10058},
      {ETIMEDOUT, 10060},      {ECONNREFUSED, 10061}, {EHOSTDOWN, 10064},
      {EHOSTUNREACH, 10065},
  };
  auto it = kCodes.find(error_number);
  return it == kCodes.end() ? 10107 : it->second;
}

}  // namespace mxfinder
