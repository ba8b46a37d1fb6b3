#include "mx_support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "config/configuration.h"
#include "log/logs.h"
#include "mx/dns_cache.h"
#include "service/program.h"

namespace dorvane::testing {

void MxFolderTest::SetUp() {
  char tmpl[] = "/tmp/dorvane_mx_XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  folder_ = tmpl;
  SetProgramFolder(folder_);
  ConfigLoaded = true;
  Config() = CConfiguration{};
  FileConfig() = CConfiguration{};
  Config().DebugMode = true;
  Config().DNSServer = "127.0.0.53";
  SetFatalExit([](int status) { throw FatalReport{status}; });
  DnsCacheReset();
}

void MxFolderTest::TearDown() {
  SetFatalExit([](int status) { std::_Exit(status); });
  std::filesystem::remove_all(folder_);
}

std::string MxFolderTest::ReadFile(const std::string& name) const {
  std::ifstream in(ProgramPath(name), std::ios::binary);
  std::ostringstream buf;
  buf << in.rdbuf();
  return buf.str();
}

void MxFolderTest::WriteFile(const std::string& name, const std::string& bytes) const {
  std::ofstream(ProgramPath(name), std::ios::binary) << bytes;
}

std::vector<std::string> MxFolderTest::MailLogTails() const {
  std::vector<std::string> tails;
  std::istringstream in(ReadFile("maillog.txt"));
  const size_t stamp = std::string("Dec 06 2026 19:52:52").size();
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    tails.push_back(line.size() > stamp ? line.substr(stamp) : line);
  }
  return tails;
}

bool MxFolderTest::DebugLogHas(const std::string& text) const {
  return ReadFile("Debug.html").find(text) != std::string::npos;
}

}  // namespace dorvane::testing
