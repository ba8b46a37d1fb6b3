#include "service/connexion.h"

#include <array>
#include <cctype>

#include "base/runtime_error.h"
#include "log/guard.h"
#include "log/logs.h"
#include "mx/cdns.h"
#include "service/form.h"
#include "spool/message.h"

namespace dorvane {

uint8_t LastIn = 1;
uint8_t LastOut = 1;

namespace {

constexpr int kPoolSize = 101;  // indexes 0 to 100; 1 to 99 are slots
using Pool = std::array<std::unique_ptr<CConnexion>, kPoolSize>;

Pool& InPool() {
  static Pool pool;
  return pool;
}

Pool& OutPool() {
  static Pool pool;
  return pool;
}

CConnexion& Slot(Pool& pool, int i, const char* source) {
  if (i < 0 || i >= kPoolSize) Raise(kErrSubscript, source, ErrorDescription(kErrSubscript));
  if (!pool[i]) pool[i] = std::make_unique<CConnexion>();
  return *pool[i];
}

// One round over slots 1 to 99 starting at `cursor`; the cursor moves to
// the slot found. 0 when every slot is busy.
int FindFree(Pool& pool, uint8_t& cursor, const char* source) {
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

}  // namespace

CConnexion::CConnexion() = default;
CConnexion::~CConnexion() = default;

CMessage& CConnexion::Message() {
  if (!message_) message_ = std::make_unique<CMessage>();
  return *message_;
}

CDns& CConnexion::DNS() {
  if (!dns_) dns_ = std::make_unique<CDns>();
  return *dns_;
}

void CConnexion::SetStatus(int32_t status) {
  status_ = status;
  if (status != 0) CurrentForm().Shell().RefreshConnection(CnxType, Connexion);
}

CConnexion& CnxIn(int i) { return Slot(InPool(), i, "MOD:MODConnexion[CnxIn]"); }
CConnexion& CnxOut(int i) { return Slot(OutPool(), i, "MOD:MODConnexion[CnxOut]"); }

void ResetSlotPools() {
  for (auto& c : InPool()) c.reset();
  for (auto& c : OutPool()) c.reset();
  LastIn = 1;
  LastOut = 1;
}

int FindFreeInSlot() { return FindFree(InPool(), LastIn, "MOD:MODConnexion[FindFreeInSlot]"); }
int FindFreeOutSlot() { return FindFree(OutPool(), LastOut, "MOD:MODConnexion[FindFreeOutSlot]"); }

void ReleaseSmtpLocal(int i) {
  Guard("MOD:MODConnexion[ReleaseSmtpLocal]", [&] {
    CConnexion& cnx = CnxIn(i);
    cnx.SetStatus(0);
    cnx.SmtpCommand.clear();
    cnx.Message().MClear();
    SocketArray& smtp = CurrentForm().Smtp();
    if (smtp.Exists(i)) smtp.Unload(i);
    DbgAdd("<FONT face='Verdana' size='2'>Release connexion in: " + std::to_string(i) +
           "</FONT><BR>");
    CurrentForm().Shell().RefreshConnection("IN", i);
  });
}

void ReleaseSmtpDistant(int i) {
  Guard("MOD:MODConnexion[ReleaseSmtpDistant]", [&] {
    CConnexion& cnx = CnxOut(i);
    cnx.SetStatus(0);
    cnx.SmtpCommand.clear();
    cnx.Message().MClear();
    cnx.DNS().ClearMx();
    SocketArray& distant = CurrentForm().SmtpDistant();
    if (distant.Exists(i)) distant.Unload(i);
    DbgAdd("<FONT face='Verdana' size='2'>Release connexion out: " + std::to_string(i) +
           "</FONT><BR>");
    CurrentForm().Shell().RefreshConnection("OUT", i);
    CurrentForm().tmrVerifOutBox().SetEnabled(true);
  });
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
