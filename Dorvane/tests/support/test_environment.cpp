#include "tests/support/test_environment.h"

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "config/configuration.h"
#include "log/logs.h"
#include "mx/cdns.h"
#include "relay/connexion.h"
#include "spool/spool_file.h"

namespace dorvane {
namespace fake {

void FailingFiles::Fail(const std::string& operation, const std::string& path_part, int error) {
  rules_.emplace(operation, std::make_pair(path_part, error));
}

int FailingFiles::Failure(const std::string& operation, const std::string& path) const {
  auto [begin, end] = rules_.equal_range(operation);
  for (auto it = begin; it != end; ++it) {
    if (path.find(it->second.first) != std::string::npos) return it->second.second;
  }
  return 0;
}

int FailingFiles::WriteDurable(const std::string& path, std::string_view bytes) {
  if (int err = Failure("WriteDurable", path)) return err;
  return disk_.WriteDurable(path, bytes);
}

int FailingFiles::Append(const std::string& path, std::string_view bytes) {
  if (int err = Failure("Append", path)) return err;
  return disk_.Append(path, bytes);
}

int FailingFiles::Read(const std::string& path, std::string* bytes) {
  if (int err = Failure("Read", path)) return err;
  return disk_.Read(path, bytes);
}

int FailingFiles::ReadAtMost(const std::string& path, size_t limit, std::string* bytes) {
  if (int err = Failure("Read", path)) return err;
  return disk_.ReadAtMost(path, limit, bytes);
}

int FailingFiles::Rename(const std::string& from, const std::string& to) {
  if (int err = Failure("Rename", to)) return err;
  return disk_.Rename(from, to);
}

int FailingFiles::WriteDurableNew(const std::string& path, std::string_view bytes) {
  if (int err = Failure("WriteDurable", path)) return err;
  return disk_.WriteDurableNew(path, bytes);
}

int FailingFiles::RenameNew(const std::string& from, const std::string& to) {
  if (int err = Failure("Rename", to)) return err;
  return disk_.RenameNew(from, to);
}

int FailingFiles::Remove(const std::string& path) {
  if (int err = Failure("Remove", path)) return err;
  return disk_.Remove(path);
}

int FailingFiles::SyncFolder(const std::string& folder) {
  if (int err = Failure("SyncFolder", folder)) return err;
  return disk_.SyncFolder(folder);
}

std::vector<std::string> FailingFiles::List(const std::string& folder) {
  ++calls["List"];
  return disk_.List(folder);
}

bool FailingFiles::Exists(const std::string& path) {
  ++calls["Exists"];
  return disk_.Exists(path);
}

bool FailingFiles::IsFile(const std::string& path) {
  ++calls["IsFile"];
  return disk_.IsFile(path);
}

std::optional<std::time_t> FailingFiles::ModifiedTime(const std::string& path) {
  ++calls["ModifiedTime"];
  return disk_.ModifiedTime(path);
}

std::optional<uint64_t> FailingFiles::FreeBytes(const std::string& folder) {
  if (free_bytes) return free_bytes;
  return disk_.FreeBytes(folder);
}

void ManualClock::Advance(int64_t seconds) {
  now += static_cast<std::time_t>(seconds);
  steady += std::chrono::seconds(seconds);
}

class ManualLoop::Timer : public RepeatingTimer {
 public:
  Timer(ManualLoop& loop, int id) : loop_(loop), id_(id) {}
  ~Timer() override { loop_.timers_.erase(id_); }

 private:
  ManualLoop& loop_;
  int id_;
};

std::unique_ptr<RepeatingTimer> ManualLoop::Every(std::chrono::milliseconds interval,
                                                  std::function<void()> tick) {
  (void)interval;
  int id = next_timer_++;
  timers_[id] = std::move(tick);
  return std::make_unique<Timer>(*this, id);
}

void ManualLoop::TickTimers() {
  std::vector<int> ids;
  for (const auto& [id, tick] : timers_) ids.push_back(id);
  for (int id : ids) {
    auto it = timers_.find(id);
    if (it != timers_.end()) it->second();
  }
}

int ManualLoop::RunPosted(int limit) {
  int ran = 0;
  while (!tasks.empty() && ran < limit) {
    auto task = std::move(tasks.front());
    tasks.pop_front();
    task();
    ++ran;
  }
  return ran;
}

}  // namespace fake

void TestEnvironment::UseLoopbackResolver() {
  program.Write("resolv.conf", "nameserver 127.0.0.53\n");
  settings.network.resolv_conf_path = program.Path("resolv.conf");
}

TestEnvironment::TestEnvironment()
    : logs(files, program.folder()),
      dns_cache(files, logs),
      mx_lookup([](std::string&, const std::string&) { return std::string(); }),
      pools(form.shell, [this] { return std::make_unique<CDns>(settings, dns_cache, mx_lookup, logs); }),
      env{form, pools, settings, logs, program.dialogs, files, clock, loop} {
  program.UseLogs(logs);
}

TestEnvironment::~TestEnvironment() = default;

void TestEnvironment::WriteMessage(const CMessage& message, const std::string& folder, const std::string& name) {
  message.MWrite(files, logs, SpoolPath(folder, name));
}

CMessage TestEnvironment::ReadMessage(const std::string& folder, const std::string& name) {
  CMessage message;
  message.MOpen(files, logs, SpoolPath(folder, name));
  return message;
}

std::vector<std::string> TestEnvironment::LogLines(const std::string& name) const {
  const size_t stamp = std::string("Dec 06 2026 19:52:52").size();
  std::vector<std::string> lines;
  std::istringstream in(program.Read(name));
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line.size() < stamp ? line : line.substr(stamp));
  }
  return lines;
}

void TestEnvironment::ResetSpoolFolders() const {
  for (const char* folder : {"OutBox", "Deferred", "Error"}) {
    std::error_code ec;
    std::filesystem::remove_all(program.Path(folder), ec);
    std::filesystem::create_directories(program.Path(folder));
  }
}

std::vector<std::string> TestEnvironment::FolderFiles(const std::string& folder) const {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(program.Path(folder), ec))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace dorvane
