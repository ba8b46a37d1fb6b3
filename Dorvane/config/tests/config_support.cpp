#include "config_support.h"

#include <fstream>

#include "config/network_params.h"

namespace dorvane {

void UseLoopbackResolver(const std::string& folder) {
  std::string path = folder + "resolv.conf";
  std::ofstream(path, std::ios::binary) << "nameserver 127.0.0.53\n";
  SetResolvConfPath(path);
}

void UseSystemResolver() { SetResolvConfPath("/etc/resolv.conf"); }

}  // namespace dorvane
