#include "tests/support/test_harness.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/program.h"
#include "config/configuration.h"
#include "log/logs.h"

namespace dorvane {
void RecordingDialogs::Message(const std::string& text, const std::string& title, DialogIcon icon) {
  boxes.push_back({text, title, icon});
}

void RecordingDialogs::Notice(const std::string& text, const std::string& title, DialogIcon icon) {
  boxes.push_back({text, title, icon});
}

bool RecordingDialogs::Question(const std::string& text, const std::string& title, bool) {
  boxes.push_back({text, title, DialogIcon::Question});
  return answer;
}

TestProgram::TestProgram() : previous_folder_(ProgramFolder()) {
  std::string pattern = (std::filesystem::temp_directory_path() / "dorvane-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) std::abort();
  folder_ = pattern + "/";
  SetProgramFolder(folder_);
  previous_report_ =
      InstallFatalReport({nullptr, &dialogs, [](int status) { throw ProgramEnded{status}; }});
  for (const char* name : {"XDG_CONFIG_HOME", "DORVANE_REGISTRY_ROOT", "XDG_RUNTIME_DIR"}) {
    const char* value = std::getenv(name);
    saved_env_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
  }
  setenv("XDG_CONFIG_HOME", (folder_ + "xdg").c_str(), 1);
  setenv("DORVANE_REGISTRY_ROOT", (folder_ + "registry").c_str(), 1);
  unsetenv("XDG_RUNTIME_DIR");  // so the control channel lives in the program folder's run/
}

void TestProgram::UseLogs(Logs& logs) {
  InstallFatalReport({&logs, &dialogs, [](int status) { throw ProgramEnded{status}; }});
}

TestProgram::~TestProgram() {
  for (const auto& [name, value] : saved_env_) {
    if (value)
      setenv(name.c_str(), value->c_str(), 1);
    else
      unsetenv(name.c_str());
  }
  InstallFatalReport(std::move(previous_report_));
  SetProgramFolder(previous_folder_);
  std::error_code ec;
  std::filesystem::remove_all(folder_, ec);
}

std::string TestProgram::Path(const std::string& name) const { return folder_ + name; }

std::string TestProgram::Read(const std::string& name) const {
  std::ifstream in(Path(name), std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::vector<std::string> TestProgram::List(const std::string& folder) const {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(Path(folder), ec))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

void TestProgram::Write(const std::string& name, const std::string& bytes) const {
  std::filesystem::create_directories(std::filesystem::path(Path(name)).parent_path());
  std::ofstream(Path(name), std::ios::binary) << bytes;
}

}  // namespace dorvane
