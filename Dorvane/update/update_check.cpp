#include "update/update_check.h"

#include "base/program.h"

namespace dorvane {
namespace {

// An answer that grows past this without naming a version is not one.
constexpr size_t kMaxAnswerBytes = 64 * 1024;

bool HoldsVersion(const std::string& answer) {
  size_t begin = answer.find("BEGIN");
  return begin != std::string::npos && answer.find("END", begin + 5) != std::string::npos;
}

}  // namespace

std::string NewVersion;

UpdateCheck::UpdateCheck(SocketControl& socket, UpdateServer server, std::function<void(Outcome)> on_done)
    : socket_(socket), server_(std::move(server)), on_done_(std::move(on_done)) {}

void UpdateCheck::Start() {
  if (running_) socket_.Close();
  answer_.clear();
  running_ = true;
  socket_.SetRemoteHost(server_.name);
  socket_.SetRemotePort(server_.port);
  socket_.Connect();
}

void UpdateCheck::OnConnect(int) {
  if (running_) socket_.SendData(VersionRequest(server_.host, VersionText()));
}

// A server may send its header and its body apart: the answer is judged
// once it holds BEGIN...END or the server closes.
void UpdateCheck::OnDataArrival(int, long) {
  if (!running_) return;
  answer_ += socket_.GetData();
  if (HoldsVersion(answer_) || answer_.size() > kMaxAnswerBytes) Judge();
}

void UpdateCheck::OnClose(int) {
  if (running_) Judge();
}

void UpdateCheck::OnError(int, int, const std::string&) {
  if (running_) Finish(Outcome::Failed);
}

void UpdateCheck::Expire() {
  if (running_) Finish(Outcome::TimedOut);
}

void UpdateCheck::Judge() {
  auto version = ParseVersionAnswer(answer_);
  if (!version) return Finish(Outcome::Failed);
  if (!IsNewer(*version, DORVANE_VERSION_MAJOR, DORVANE_VERSION_MINOR)) return Finish(Outcome::Current);
  NewVersion = version->text;
  Finish(Outcome::Newer);
}

void UpdateCheck::Finish(Outcome outcome) {
  socket_.Close();
  running_ = false;
  answer_.clear();
  if (on_done_) on_done_(outcome);
}

}  // namespace dorvane
