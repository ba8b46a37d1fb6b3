// The server side of SMTP: the event handler of the `Smtp` socket array.
// Element 0 listens; a client accepted on element n lives in inbound slot n,
// whose Status mirrors its dialogue's state (InboundDialogue, which decides
// every reply). This side runs what the dialogue asks for against the
// socket, the spool, the logs and the clock, and owns what concerns
// connections rather than one dialogue: who may relay, how many slots one
// address holds, the time-out sweep.
//
// A command line must be complete 5 minutes after the session starts
// waiting for it, a message text 10 minutes after its 354, or the client
// gets "421 Timeout, closing connection". One client address holds at most
// 20 slots. A client that finds no slot (all 99 busy, or its address at its
// limit) is told "421 Too many connections, try again later" and closed;
// one refused by the relay rule is closed without a word, whether slots are
// free or not. A message is written by the spool committer while the loop
// goes on; its outcome steps the dialogue (the 250 once it is on disk)
// unless the client was timed out or failed meanwhile: the message is kept
// all the same. A client that closes its side while its message is written
// (it may still read) is closed once the outcome is sent. A queued message
// is followed by a queue scan, posted to the event loop.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/socket_control.h"
#include "service/inbound_dialogue.h"

namespace dorvane {

class RepeatingTimer;
class SpoolCommitter;
struct Environment;

// Slots one client address may hold at once.
constexpr int kMaxSlotsPerAddress = 20;
// Spare elements of `Smtp` that carry the 421 to clients finding no slot.
constexpr int kFirstSpareElement = 100;
// Enough for a burst of 150 clients at once; each lives until its 421 is out.
constexpr int kSpareElements = 256;

class InboundSession : public SocketEvents {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  // Handles the events of `env.form.Smtp()` from now on; messages are
  // written through `committer` (which must outlive the session); `scan`
  // (may be empty) is posted to `env.loop` after each message queued. A
  // timer on the loop runs SweepIdle every few seconds.
  InboundSession(Environment& env, SpoolCommitter& committer, std::function<void()> scan);
  // Stops handling the events of `Smtp`; outcomes of writes still under
  // way are dropped when they come (their messages are kept).
  ~InboundSession() override;
  // `added` (may be empty) is told the name of each OutBox file queued.
  void OnQueued(std::function<void(const std::string&)> added) { added_ = std::move(added); }

  // A client waits on the listener: take a slot, accept, apply the relay
  // rule, greet.
  void OnConnectionRequest(int index, intptr_t request_id) override;
  // The received bytes go to the slot's dialogue.
  void OnDataArrival(int index, long bytes) override;
  // After the reply to QUIT (or a 421) is sent: close and release.
  void OnSendComplete(int index) override;
  // The client went away without QUIT: release its slot.
  void OnClose(int index) override;
  void OnError(int index, int number, const std::string& description) override;

  // Time-outs: every dialogue whose time limit has run out is told so (a
  // 421, or closed when its last reply is not flushed after kCloseGrace).
  void SweepIdle();

 private:
  struct Slot {
    InboundDialogue dialogue;
    std::string ip;      // the client's address
    TimePoint deadline;  // when the dialogue's time limit runs out
    uint64_t serial;     // tells this client from a later one in the slot
    bool writing = false;  // its message is with the committer
    bool gone = false;     // it closed its side meanwhile
  };

  void Accept(intptr_t request_id);
  bool Denied(int element);
  int SlotsHeldBy(const std::string& ip) const;
  void RefuseBusy(intptr_t request_id);
  int FreeSpare();
  void DropSpare(int index);
  void Run(int n, InboundEvent event, std::string_view bytes = {});
  void PeerGone(int n);
  void Perform(int n, Slot& slot, const InboundAction& action);
  void Queue(int n, Slot& slot);
  void Committed(int n, uint64_t serial, const std::vector<std::string>& names, const std::string& error);
  void CloseAndRelease(int n);
  void Release(int n);

  Environment& env_;
  SpoolCommitter& committer_;
  std::function<void()> scan_;
  uint64_t last_serial_ = 0;
  std::set<std::string> writing_;  // spool names of messages being written
  // Outcomes of writes hold it weakly: none runs once the session is gone.
  std::shared_ptr<char> alive_ = std::make_shared<char>();
  std::function<void(const std::string&)> added_;
  std::map<int, Slot> slots_;
  std::map<int, TimePoint> spares_;  // spare element -> when taken
  std::unique_ptr<RepeatingTimer> timer_;
};

}  // namespace dorvane
