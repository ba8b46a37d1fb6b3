#include "relay/connexion.h"

#include <array>
#include <cctype>

#include "base/runtime_error.h"
#include "log/guard.h"
#include "log/logs.h"
#include "mx/cdns.h"
#include "relay/form.h"
#include "spool/message.h"

namespace dorvane {

SlotPools::SlotPools(ShellView& view, RouteMaker make_route)
    : view_(view), make_route_(std::move(make_route)) {}
SlotPools::~SlotPools() = default;

CConnexion& SlotPools::Slot(Pool& pool, int i, const char* source) {
  if (i < 0 || i >= kPoolSize) Raise(kErrSubscript, source, ErrorDescription(kErrSubscript));
  if (!pool[i]) {
    pool[i] = std::make_unique<CConnexion>();
    pool[i]->view = &view_;
    pool[i]->make_route = &make_route_;
  }
  return *pool[i];
}

int SlotPools::FindFree(Pool& pool, uint8_t& cursor, const char* source) {
  int i = (cursor >= kFirstSlot && cursor <= kLastSlot) ? cursor : kFirstSlot;
  for (int tried = 0; tried < kLastSlot; ++tried) {
    if (Slot(pool, i, source).Status() == 0) {
      cursor = static_cast<uint8_t>(i);
      return i;
    }
    i = i >= kLastSlot ? kFirstSlot : i + 1;
  }
  return 0;
}

CConnexion& SlotPools::In(int i) { return Slot(in_, i, "MOD:MODConnexion[CnxIn]"); }
CConnexion& SlotPools::Out(int i) { return Slot(out_, i, "MOD:MODConnexion[CnxOut]"); }

void SlotPools::Reset() {
  for (auto& c : in_) c.reset();
  for (auto& c : out_) c.reset();
  last_in = 1;
  last_out = 1;
}

int SlotPools::FindFreeIn() { return FindFree(in_, last_in, "MOD:MODConnexion[FindFreeInSlot]"); }
int SlotPools::FindFreeOut() { return FindFree(out_, last_out, "MOD:MODConnexion[FindFreeOutSlot]"); }

CConnexion::CConnexion() = default;
CConnexion::~CConnexion() = default;

CMessage& CConnexion::Message() {
  if (!message_) message_ = std::make_unique<CMessage>();
  return *message_;
}

CDns& CConnexion::DNS() {
  if (!dns_) {
    if (!make_route || !*make_route) Raise(91, "CConnexion", "Object variable or With block variable not set");
    dns_ = (*make_route)();
  }
  return *dns_;
}

void CConnexion::SetStatus(int32_t status) {
  status_ = status;
  if (status != 0 && view) view->RefreshConnection(CnxType, Connexion);
}


std::string GetResponseCode(const std::string& reply) {
  return Guard("MOD:MODConnexion[GetResponseCode]", [&] { return reply.substr(0, 3); });
}

std::string GetResponse(const std::string& line) {
  return Guard("MOD:MODConnexion[GetResponse]", [&] {
    std::string word = line.substr(0, line.find_first_of(" \r\n"));
    for (char& c : word) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return word;
  });
}

}  // namespace dorvane
