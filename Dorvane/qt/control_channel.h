// The local control channel of a running instance: a second invocation
// (`dorvane [--home DIR] start|stop|reload|flush|quit|status`) sends one
// command line and prints the one answer. The channel's name comes from the
// program folder, so instances with different homes never meet. It lives
// in a folder only its user can enter, and both ends check that the other
// is the same user, so no other local user can answer or send a command.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "service/control_client.h"

class QLocalServer;

namespace dorvane {

class ControlServer {
 public:
  using Handler = std::function<std::string(const std::string& command)>;
  // `handler` answers each command; `after` runs once the answer is sent.
  ControlServer(Handler handler, std::function<void(const std::string& command)> after);
  ~ControlServer();
  // Listens at the first of ControlSocketPaths(QtSha1Hex) whose folder is (or can
  // be made) private, replacing a stale channel left by a dead instance
  // (call only while holding the instance lock). Connections from another
  // user are closed unanswered.
  bool Start();

 private:
  void OnConnection();
  Handler handler_;
  std::function<void(const std::string&)> after_;
  std::unique_ptr<QLocalServer> server_;
};

// Sends `command` to the running instance and stores its answer. False when
// no instance answers within a few seconds, or when the socket found is not
// this user's (nothing is sent then; a line on stderr says why). Channel
// names and paths: service/control_client.h.
bool SendControlCommand(const std::string& command, std::string* answer);

// The relay's digest for the channel's name (a Sha1Function): Qt's, so that
// naming the channel loads no library.
std::string QtSha1Hex(const std::string& bytes);

}  // namespace dorvane
