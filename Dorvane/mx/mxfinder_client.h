// MxfinderClient: the program's side of the resolver library's component
// boundary. It loads libMxfinder.so once per process and creates one
// CMxfinder object per call, released right after it. Texts cross as UTF-8:
// the record separator "¤" arrives as the two bytes C2 A4.
#pragma once

#include <string>

#include "mxfinder_com.h"

namespace dorvane {

class MxfinderClient {
 public:
  // Loads the library from beside the executable, else from an installed
  // copy's library folder, else from the path that its registration
  // recorded. Throws RuntimeError 429 when neither loads.
  MxfinderClient();
  // Loads the library at `library_path`; RuntimeError 429 when it cannot.
  explicit MxfinderClient(const std::string& library_path);

  // The library's version, "3.0" for the one this program needs.
  std::string GetVer() const;

  // The MX records of `domain` at DNS server `server`: the record text,
  // "" or "ERROR_DNS_TIMEOUT". `domain` receives the name actually asked
  // for (a dotted IPv4 address becomes its reverse-mapping name). An error
  // inside the library is thrown as RuntimeError with its number, source
  // and description. A text the library leaves out reads as "" (and
  // leaves `domain` as it was).
  std::string ResolveDnsQuery(std::string& domain, const std::string& server) const;

 private:
  // A new CMxfinder object; RuntimeError 429 when the factory refuses.
  CMxfinder* Create() const;

  MxDllGetClassObjectFn get_class_object_ = nullptr;
};

// Where registration records the library's path.
std::string MxfinderRegistrationFile();

}  // namespace dorvane
