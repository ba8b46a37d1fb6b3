#include "tests/support/fake_form.h"

#include "base/runtime_error.h"
#include "relay/connexion.h"

namespace dorvane::fake {

int FakeSocket::Listen() {
  if (listen_result == 0) state = SocketState::Listening;
  return listen_result;
}

void FakeSocket::Accept(intptr_t request_id) {
  auto it = owner_->peers_.find(request_id);
  if (it != owner_->peers_.end()) {
    peer = it->second;
    owner_->peers_.erase(it);
  }
  state = SocketState::Connected;
  owner_->accepted_[index_] = request_id;
  owner_->Note("accept", index_);
}

void FakeSocket::Connect() {
  state = SocketState::Connecting;
  ++owner_->connects_[index_];
  owner_->Note("connect", index_);
}

void FakeSocket::SendData(const std::string& bytes) {
  owner_->sent_[index_].push_back(bytes);
  owner_->Note("send", index_);
}

std::string FakeSocket::GetData() {
  std::string out;
  out.swap(inbox);
  return out;
}

void FakeSocket::Close() {
  state = SocketState::Closed;
  ++owner_->closes_[index_];
  owner_->Note("close", index_);
}

void FakeSocket::StartTls(const TlsOptions& options) {
  tls_starts.push_back(options);
  inbox.clear();  // as the real socket: nothing plain survives the switch
  owner_->Note("starttls", index_);
}

void FakeSocketArray::Load(int index) {
  if (Exists(index)) Raise(360, "FakeSocketArray", "Object already loaded");
  elements_[index] = std::make_unique<FakeSocket>(this, index);
  sent_[index].clear();
  accepted_.erase(index);
  ++loads_[index];
  Note("load", index);
}

void FakeSocketArray::Unload(int index) {
  if (!Exists(index)) Raise(340, "FakeSocketArray", "Control array element does not exist");
  elements_.erase(index);
  ++unloads_[index];
  Note("unload", index);
}

FakeSocket& FakeSocketArray::At(int index) {
  auto it = elements_.find(index);
  if (it == elements_.end()) Raise(340, "FakeSocketArray", "Control array element does not exist");
  return *it->second;
}

bool FakeSocketArray::FireConnectionRequest(intptr_t request_id, int index) {
  if (!Exists(index) || !events_) return false;
  events_->OnConnectionRequest(index, request_id);
  return true;
}

bool FakeSocketArray::Receive(int index, const std::string& bytes) {
  if (!Exists(index) || !events_) return false;
  At(index).inbox += bytes;
  events_->OnDataArrival(index, static_cast<long>(bytes.size()));
  return true;
}

bool FakeSocketArray::FireConnect(int index) {
  if (!Exists(index) || !events_) return false;
  At(index).state = SocketState::Connected;
  events_->OnConnect(index);
  return true;
}

bool FakeSocketArray::FireSendComplete(int index) {
  if (!Exists(index) || !events_) return false;
  events_->OnSendComplete(index);
  return true;
}

bool FakeSocketArray::FireClose(int index) {
  if (!Exists(index) || !events_) return false;
  At(index).state = SocketState::Closing;
  events_->OnClose(index);
  return true;
}

bool FakeSocketArray::FireError(int index, int number, const std::string& description) {
  if (!Exists(index) || !events_) return false;
  At(index).state = SocketState::Error;
  events_->OnError(index, number, description);
  return true;
}

bool FakeSocketArray::FireTlsReady(int index, const std::string& description) {
  if (!Exists(index) || !events_) return false;
  At(index).tls_description = description;
  events_->OnTlsReady(index);
  return true;
}

const std::vector<std::string>& FakeSocketArray::Sent(int index) const {
  static const std::vector<std::string> kNone;
  auto it = sent_.find(index);
  return it == sent_.end() ? kNone : it->second;
}

std::string FakeSocketArray::SentText(int index) const {
  std::string all;
  for (const auto& s : Sent(index)) all += s;
  return all;
}

std::string FakeSocketArray::LastSent(int index) const {
  const auto& sent = Sent(index);
  return sent.empty() ? std::string() : sent.back();
}

intptr_t FakeSocketArray::AcceptedRequest(int index) const {
  auto it = accepted_.find(index);
  return it == accepted_.end() ? -1 : it->second;
}

int FakeSocketArray::Count(const std::map<int, int>& m, int index) {
  auto it = m.find(index);
  return it == m.end() ? 0 : it->second;
}

void FakeShellView::ShowServiceState(bool is_started, const std::string& text) {
  started = is_started;
  tooltip = text;
}

void FakeShellView::SetStartStopEnabled(bool start, bool stop) {
  start_enabled = start;
  stop_enabled = stop;
}

void FakeShellView::RefreshConnection(const std::string& type, int slot) {
  refreshes.emplace_back(type, slot);
}

}  // namespace dorvane::fake
