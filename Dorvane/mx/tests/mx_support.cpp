#include "mx_support.h"

#include <fstream>
#include <sstream>

#include "base/program.h"
#include "config/configuration.h"
#include "mx/dns_cache.h"

namespace dorvane::testing {

void MxFolderTest::SetUp() {
  Config() = CConfiguration{};
  FileConfig() = CConfiguration{};
  Config().DebugMode = true;
  PushDebugMode();
  Config().DNSServer = "127.0.0.53";
  DnsCacheReset();
}

std::string MxFolderTest::ReadFile(const std::string& name) {
  std::ostringstream buf;
  buf << std::ifstream(ProgramPath(name), std::ios::binary).rdbuf();
  return buf.str();
}

std::vector<std::string> MxFolderTest::MailLogTails() {
  std::vector<std::string> tails;
  std::istringstream in(ReadFile("maillog.txt"));
  for (std::string line; std::getline(in, line);) tails.push_back(line.substr(20, line.size() - 21));
  return tails;
}

bool MxFolderTest::DebugLogHas(const std::string& text) {
  return ReadFile("Debug.html").find(text) != std::string::npos;
}

}  // namespace dorvane::testing
