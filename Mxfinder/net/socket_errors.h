// Windows Sockets error numbers and their texts. The socket class reports
// every failure with these numbers, whatever the platform's own errno says,
// so that its callers keep one set of codes.
#pragma once

#include <string>

namespace mxfinder {

enum WinsockCode : int {
  kWsaEwouldblock = 10035,
  kWsaEnotsock = 10038,
  kWsaEafnosupport = 10047,
  kWsaWrongState = 40006,  // "Wrong protocol or connection state ..."
  kWsaHostNotFound = 11001,
  kWsaTryAgain = 11002,
  kWsaNoData = 11004,
};

// The text of a Windows Sockets code ("Connection refused." for 10061);
// "Unknown error." for a code outside the table.
std::string GetErrorDescription(int code);

// The Windows Sockets code for a POSIX errno value (ECONNREFUSED -> 10061);
// 10107 "System call failure." when there is no counterpart.
int WinsockCodeFromErrno(int error_number);

}  // namespace mxfinder
