#include "config/network_params.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <sstream>

#include "base/files.h"
#include "base/runtime_error.h"

namespace dorvane {
namespace {

bool IsDottedIPv4(const std::string& text) {
  in_addr addr{};
  return inet_pton(AF_INET, text.c_str(), &addr) == 1;
}

}  // namespace

std::vector<std::string> ParseNameservers(const std::string& text) {
  std::vector<std::string> servers;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string keyword, address;
    if (!(words >> keyword >> address) || keyword != "nameserver") continue;
    if (IsDottedIPv4(address)) servers.push_back(address);
  }
  return servers;
}

void DiscoverNetworkParams(NetworkParams& params, Files& files) {
  std::vector<std::string>& list = params.dns_list;
  list.assign(1, "0");
  std::string text;
  try {
    text = ReadFileBytes(files, params.resolv_conf_path, "Dorvane");
  } catch (const RuntimeError&) {
    return;  // no configuration to read: no server, and not an error
  }
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return;
  params.host_name = name;
  std::vector<std::string> servers = ParseNameservers(text);
  // A readable configuration always yields a first entry, empty or not.
  if (servers.empty()) servers.emplace_back();
  list.insert(list.end(), servers.begin(), servers.end());
  list[0] = std::to_string(servers.size());
}

std::string MailDomainOf(const std::string& host_name) {
  size_t dot = host_name.find('.');
  if (dot == std::string::npos || dot + 1 == host_name.size()) return host_name;
  return host_name.substr(dot + 1);
}

}  // namespace dorvane
