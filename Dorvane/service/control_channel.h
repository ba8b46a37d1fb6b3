// The local control channel of a running instance: a second invocation
// (`dorvane [--home DIR] start|stop|reload|flush|quit|status`) sends one
// command line and prints the one answer. The channel's name comes from the
// program folder, so instances with different homes never meet.
#pragma once

#include <functional>
#include <memory>
#include <string>

class QLocalServer;

namespace dorvane {

// "dorvane-" + a digest of ProgramFolder().
std::string ControlChannelName();

class ControlServer {
 public:
  using Handler = std::function<std::string(const std::string& command)>;
  // `handler` answers each command; `after` runs once the answer is sent.
  ControlServer(Handler handler, std::function<void(const std::string& command)> after);
  ~ControlServer();
  // Listens under ControlChannelName(), replacing a stale channel left by a
  // dead instance (call only while holding the instance lock).
  bool Start();

 private:
  void OnConnection();
  Handler handler_;
  std::function<void(const std::string&)> after_;
  std::unique_ptr<QLocalServer> server_;
};

// Sends `command` to the running instance and stores its answer. False when
// no instance answers within a few seconds.
bool SendControlCommand(const std::string& command, std::string* answer);

}  // namespace dorvane
