// The server side of SMTP: the event handler of the `Smtp` socket array.
// Element 0 listens; a client accepted on element n lives in inbound slot n
// (CnxIn(n)), whose Status is the dialogue state (InboundState). Received
// bytes are cut at each CR LF into command lines, answered one after the
// other (a client may send several at once); after DATA they are message
// text up to the first CR LF "." CR LF, and whatever follows is commands
// again. A finished message is queued in OutBox, one file per recipient
// domain when there are several recipients.
//
// Bounds: a command line over 64 KiB gets "500 Line too long."; a message
// text over 64 MiB is dropped as it arrives and refused with 552 at its
// end; more than 255 recipients get 452; a command line must be complete
// 5 minutes after the session starts waiting for it, a message text 10
// minutes after its 354, or the client gets "421 Timeout, closing
// connection". One client address holds at most 20 slots. A client that
// finds no slot (all 99 busy, or its address at its limit) is told "421 Too
// many connections, try again later" and closed; one refused by the relay
// rule is closed without a word, whether slots are free or not.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/socket_control.h"
#include "service/inbound_text.h"
#include "spool/message.h"

class QTimer;

namespace dorvane {


constexpr size_t kMaxCommandBytes = 64 * 1024;
constexpr uint8_t kMaxRecipients = 255;
// Time a client has for one command line, and for the message text.
constexpr std::chrono::minutes kIdleTimeout{5};
constexpr std::chrono::minutes kDataTimeout{10};
// Slots one client address may hold at once.
constexpr int kMaxSlotsPerAddress = 20;
// How long a closing connection may take to flush its last reply.
constexpr std::chrono::seconds kCloseGrace{30};
// Spare elements of `Smtp` that carry the 421 to clients finding no slot.
constexpr int kFirstSpareElement = 100;
// Enough for a burst of 150 clients at once; each lives until its 421 is out.
constexpr int kSpareElements = 256;

class InboundSession : public SocketEvents {
 public:
  using Clock = std::chrono::steady_clock;

  // Bytes free on the spool's file system; nullopt when unknown.
  using FreeSpace = std::function<std::optional<uint64_t>()>;

  // `now` is the clock of the time-outs; `free_space` tells whether a
  // message fits in OutBox (by default the real file system of OutBox).
  // Once a Qt application exists, a timer of the session runs SweepIdle
  // every few seconds.
  explicit InboundSession(std::function<Clock::time_point()> now = &Clock::now,
                          FreeSpace free_space = {});
  ~InboundSession() override;

  // A client waits on the listener: take a slot, accept, apply the relay
  // rule, greet.
  void OnConnectionRequest(int index, intptr_t request_id) override;
  // Line assembly and the command table, or message text collection.
  void OnDataArrival(int index, long bytes) override;
  // After the reply to QUIT (or a 421) is sent: close and release.
  void OnSendComplete(int index) override;
  // The client went away without QUIT: release its slot.
  void OnClose(int index) override;
  void OnError(int index, int number, const std::string& description) override;

  // Time-outs: "421 Timeout, closing connection" to every client whose
  // command line (or message text) is not complete in time; connections
  // whose last reply is not flushed after kCloseGrace are closed and
  // released anyway.
  void SweepIdle();

 private:
  // Per-slot state the slot record does not hold.
  struct Extra {
    std::string ip;                // the client's address
    Clock::time_point deadline{};  // the current line or text is due by then
    bool discarding_line = false;  // inside a command line over the limit
    bool oversize = false;         // message text over the limit, dropped
    TextScan scan;                 // where the message text ends
  };

  void Accept(intptr_t request_id);
  bool Denied(int element);
  int SlotsHeldBy(const std::string& ip) const;
  void TurnAway(int n);
  void RefuseBusy(intptr_t request_id);
  int FreeSpare();
  void Arrival(int n);
  size_t CommandLine(int n, std::string_view pending, size_t searched);
  size_t TextBytes(int n, std::string_view pending);
  void Command(int n, const std::string& line);
  void Helo(int n, const std::string& line);
  void Mail(int n, const std::string& line, bool log_client);
  void Rcpt(int n, const std::string& line);
  void StartData(int n);
  void EndOfText(int n);
  bool SpoolHasRoom(const CMessage& msg) const;
  void Queue(int n);
  void Refuse(int n, const std::string& reply);
  void Reply(int n, const std::string& reply, bool bold = false);
  void LogLocal(int n, const std::string& text);
  void CloseAndRelease(int n);
  void DropSpare(int index);

  std::function<Clock::time_point()> now_;
  FreeSpace free_space_;
  std::map<int, Extra> extra_;
  std::map<int, Clock::time_point> spares_;  // spare element -> when taken
  std::unique_ptr<QTimer> timer_;
};

}  // namespace dorvane
