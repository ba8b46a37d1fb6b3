// Feeds arbitrary datagrams to the response decoder. A ComponentError is the
// expected answer to garbage; a crash, a sanitizer report, a hang or any
// other exception is a finding. A decoded question is composed again, so the
// encoder sees the names the decoder lets through.
#include <cstddef>
#include <cstdint>
#include <string>

#include "dns/dns_message.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string datagram(reinterpret_cast<const char*>(data), size);
  mxfinder::CDNSMessage message;
  try {
    message.Parse(datagram);
  } catch (const mxfinder::ComponentError&) {
    return 0;
  }
  if (message.Questions.Count() == 0) return 0;
  std::string query;
  try {
    message.ComposeQuery(query);
  } catch (const mxfinder::ComponentError&) {
  }
  return 0;
}
