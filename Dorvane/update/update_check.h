// The background version check on the `Update` socket: connect to the web
// host, send the request, read the answer and report a newer version. It
// never shows or logs a failure: a refused connection, a reset or an
// answer without a well-formed version simply ends the check.
#pragma once

#include <functional>
#include <string>

#include "base/socket_control.h"
#include "update/version_check.h"

namespace dorvane {

// The version received when it is newer than the running one ("" before).
extern std::string NewVersion;

class UpdateCheck : public SocketEvents {
 public:
  enum class Outcome { Newer, Current, Failed, TimedOut };

  // `socket` is the `Update` control (not owned); its events must reach
  // this object. `on_done` runs once per check with its outcome.
  UpdateCheck(SocketControl& socket, UpdateServer server, std::function<void(Outcome)> on_done);

  // Starts a check; one already running is abandoned.
  void Start();
  bool Running() const { return running_; }
  // The time limit has passed: a running check ends as TimedOut.
  void Expire();

  void OnConnect(int index) override;
  void OnDataArrival(int index, long bytes) override;
  void OnClose(int index) override;
  void OnError(int index, int number, const std::string& description) override;

 private:
  void Finish(Outcome outcome);
  void Judge();

  SocketControl& socket_;
  UpdateServer server_;
  std::function<void(Outcome)> on_done_;
  std::string answer_;
  bool running_ = false;
};

}  // namespace dorvane
