// The server side of SMTP: the event handler of the `Smtp` socket array.
// Element 0 listens; a client accepted on element n lives in inbound slot n
// (CnxIn(n)), whose Status is the dialogue state (InboundState). Each
// received unit ending in CR LF is one command, or one piece of message
// text after DATA; a finished message is queued in OutBox, one file per
// recipient domain when there are several recipients.
//
// Bounds: a command unit over 64 KiB gets "500 Line too long."; a message
// text over 64 MiB is dropped as it arrives and refused with 552 at its
// end; more than 255 recipients get 452; a client silent for 5 minutes gets
// "421 Timeout, closing connection". When all 99 slots are busy a new client
// is told "421 Too many connections, try again later" on a spare element
// (100 and up) and closed, without taking a slot.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "service/socket_control.h"

class QTimer;

namespace dorvane {

constexpr size_t kMaxCommandBytes = 64 * 1024;
constexpr size_t kMaxMessageBytes = 64 * 1024 * 1024;
constexpr uint8_t kMaxRecipients = 255;
constexpr std::chrono::minutes kIdleTimeout{5};
// How long a closing connection may take to flush its last reply.
constexpr std::chrono::seconds kCloseGrace{30};
// Spare elements of `Smtp` that carry the 421 to clients finding no slot.
constexpr int kFirstSpareElement = 100;
// Enough for a burst of 150 clients at once; each lives until its 421 is out.
constexpr int kSpareElements = 256;

class InboundSession : public SocketEvents {
 public:
  using Clock = std::chrono::steady_clock;

  // `now` is the clock of the idle time-outs. Once a Qt application
  // exists, a timer of the session runs SweepIdle every few seconds.
  explicit InboundSession(std::function<Clock::time_point()> now = &Clock::now);
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

  // Time-outs: "421 Timeout, closing connection" to every client silent for
  // kIdleTimeout; connections whose last reply is not flushed after
  // kCloseGrace are closed and released anyway.
  void SweepIdle();

 private:
  // Per-slot state the slot record does not hold.
  struct Extra {
    Clock::time_point last_activity{};
    bool discarding_line = false;  // inside a command unit over the limit
    bool oversize = false;         // message text over the limit, dropped
    std::string tail;              // last bytes of a dropped message text
  };

  void Accept(intptr_t request_id);
  void RefuseBusy(intptr_t request_id);
  void Arrival(int n);
  void CommandBytes(int n, std::string data);
  void TextBytes(int n, std::string data);
  void Command(int n, const std::string& unit);
  void Helo(int n, const std::string& unit);
  void Mail(int n, const std::string& unit, bool log_client);
  void Rcpt(int n, const std::string& unit);
  void StartData(int n);
  void EndOfText(int n, std::string unit);
  void Queue(int n);
  void Refuse(int n, const std::string& reply);
  void Reply(int n, const std::string& reply, bool bold = false);
  void LogLocal(int n, const std::string& text);
  void CloseAndRelease(int n);
  void DropSpare(int index);

  std::function<Clock::time_point()> now_;
  std::map<int, Extra> extra_;
  std::map<int, Clock::time_point> spares_;  // spare element -> when taken
  std::unique_ptr<QTimer> timer_;
};

}  // namespace dorvane
