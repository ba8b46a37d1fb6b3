#include "resolver/mxfinder.h"

namespace mxfinder {

CMxfinder::CMxfinder() = default;
CMxfinder::~CMxfinder() = default;

std::string CMxfinder::GetVer() const { return "3.0"; }

std::string CMxfinder::ResolveDnsQuery(std::string& domain_to_resolve, const std::string& dns_server) {
  (void)domain_to_resolve;
  (void)dns_server;
  return "";
}

}  // namespace mxfinder
