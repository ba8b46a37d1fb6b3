#include "resolver/mxfinder.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QRandomGenerator>

namespace mxfinder {
namespace {

constexpr int16_t kTimeoutSeconds = 5;
constexpr int32_t kTypeMx = 15;
constexpr int32_t kClassIn = 1;

}  // namespace

CMxfinder::CMxfinder() = default;
CMxfinder::~CMxfinder() = default;

std::string CMxfinder::GetVer() const { return "3.0"; }

std::string CMxfinder::ResolveDnsQuery(std::string& domain_to_resolve, const std::string& dns_server) {
  std::string reverse = ReverseMappingName(domain_to_resolve);
  if (!reverse.empty()) domain_to_resolve = reverse;
  SendQuery(domain_to_resolve, dns_server);
  Wait();
  if (!response_) return kDnsTimeoutText;
  return ResolutionText(*message_);
}

// A fresh socket per query gets a fresh random source port; with the random
// identifier, a forged answer has to guess both.
void CMxfinder::SendQuery(const std::string& domain, const std::string& dns_server) {
  message_ = std::make_unique<CDNSMessage>();
  message_->Header.RecursionDesired = true;
  message_->Header.MessageID = static_cast<int32_t>(QRandomGenerator::system()->bounded(65536));
  message_->Questions.Add(domain, kTypeMx, kClassIn);
  std::string query;
  message_->ComposeQuery(query);

  expected_ = ExpectedAnswer{"", message_->Header.MessageID, domain};
  sent_ = false;
  response_ = false;
  failed_ = false;
  message_.reset();
  socket_ = std::make_unique<CSocket>();
  socket_->SetOwner(this);
  socket_->SetProtocol(sckUDPProtocol);
  socket_->SetRemoteHost(dns_server);
  socket_->SetRemotePort(53);
  // An offline machine is an everyday case, not a fault of the caller: a
  // send that fails ends the resolution as a silent server does.
  try {
    socket_->SendData(query);
  } catch (const ComponentError&) {
    failed_ = true;
  }
  // A datagram socket that cannot be made (no descriptor left) sends nothing.
  if (socket_->SocketHandle() == -1) failed_ = true;
}

// Blocks in the event loop until the answer, the time-out or another event;
// the caller's own timers and sockets run meanwhile.
void CMxfinder::Wait() {
  timer_ = std::make_unique<CTimer>();
  timer_->SetTimeoutValue(kTimeoutSeconds);
  int32_t timer_id = 0;
  timer_->StartTimer(timer_id);
  while (!response_ && !failed_ && !timer_->Timeout(timer_id)) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  timer_->StopTimer(timer_id);
}

void CMxfinder::OnSendComplete() {
  expected_.server_ip = socket_->RemoteHostIP();
  sent_ = true;
}

void CMxfinder::OnError(int, const std::string&) {
  if (!response_) failed_ = true;
}

void CMxfinder::OnDataArrival(long) {
  std::string datagram;
  socket_->GetData(datagram);
  if (!sent_ || response_) return;
  auto reply = std::make_unique<CDNSMessage>();
  try {
    reply->Parse(datagram);
  } catch (const ComponentError&) {
    return;  // undecodable: not the answer, keep waiting
  }
  if (!IsAnswer(expected_, socket_->RemoteHostIP(), socket_->RemotePort(), *reply)) return;
  message_ = std::move(reply);
  response_ = true;
}

}  // namespace mxfinder
