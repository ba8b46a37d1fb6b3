// Connection slots: every TCP connection of the SMTP service lives in a
// numbered slot of one of two pools, inbound (`SlotPools::In`, tied to the
// `Smtp` socket array) and outbound (`SlotPools::Out`, tied to `SmtpDistant`). Slot i uses
// socket element i; usable numbers are 1 to 99, element 0 is never a slot.
// Also the two small text functions that cut a client line into its command
// word and a server reply into its code.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace dorvane {

class CMessage;
class CDns;
class ShellView;

constexpr int kFirstSlot = 1;
constexpr int kLastSlot = 99;

// Makes the route of an outbound slot (the settings, DNS cache, resolver
// and logs it works with are the maker's to choose).
using RouteMaker = std::function<std::unique_ptr<CDns>()>;

class CConnexion {
 public:
  CConnexion();
  ~CConnexion();

  uint8_t Connexion = 0;     // the slot's own number
  std::string CnxType;       // "IN" or "OUT"
  std::string SrvClient;     // the peer: client host or server contacted
  std::string CurrentOutFile;  // outbound: the spool file being delivered
  uint8_t CurrentRcptTo = 0;   // outbound: the recipient being handled

  // The message received or sent on this connection (created on first use).
  CMessage& Message();
  // Outbound: the MX route of the destination (created on first use by
  // the pools' route maker; RuntimeError 91 without one).
  CDns& DNS();

  // 0 = free; any other value is the dialogue's state. Writing a non-zero
  // value refreshes the slot's row of the connections view.
  int32_t Status() const { return status_; }
  void SetStatus(int32_t status);

  // Where status changes are shown and who makes routes (the pools set
  // both); a null view shows nothing.
  ShellView* view = nullptr;
  const RouteMaker* make_route = nullptr;

 private:
  int32_t status_ = 0;
  std::unique_ptr<CMessage> message_;
  std::unique_ptr<CDns> dns_;
};

// The two pools of 101 slots (0 to 100; 1 to 99 are usable) and the
// cursors where the next search for a free slot starts.
class SlotPools {
 public:
  // Status changes of every slot are shown on `view` (not owned); outbound
  // routes come from `make_route`.
  SlotPools(ShellView& view, RouteMaker make_route);
  ~SlotPools();

  // Slot i (0 to 100) of each pool, created on first use. RuntimeError 9
  // (`source` of the caller's choosing) outside that range.
  CConnexion& In(int i);
  CConnexion& Out(int i);
  // Empties both pools and sets both cursors to 1 (start-up).
  void Reset();
  // A free slot of the pool, searched from its cursor and wrapping from 99
  // to 1; the cursor moves there. 0 when all 99 are busy (one full round:
  // the search never loops for ever).
  int FindFreeIn();
  int FindFreeOut();

  uint8_t last_in = 1;
  uint8_t last_out = 1;

 private:
  static constexpr int kPoolSize = 101;
  using Pool = std::array<std::unique_ptr<CConnexion>, kPoolSize>;
  CConnexion& Slot(Pool& pool, int i, const char* source);
  int FindFree(Pool& pool, uint8_t& cursor, const char* source);

  ShellView& view_;
  RouteMaker make_route_;
  Pool in_;
  Pool out_;
};

// The first three characters of a server reply (fewer when shorter).
std::string GetResponseCode(const std::string& reply);
// The command word of a client line: the text before the first space, line
// end removed, upper case ("helo x\r\n" -> "HELO").
std::string GetResponse(const std::string& line);

}  // namespace dorvane
