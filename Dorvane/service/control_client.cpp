#include "service/control_client.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "base/program.h"

namespace dorvane {
namespace {

constexpr size_t kMaxAnswerBytes = 64 * 1024;

using Deadline = std::chrono::steady_clock::time_point;

int MillisLeft(Deadline deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Waits for `events` on `fd` until `deadline`; false on time-out or error.
bool WaitFor(int fd, short events, Deadline deadline) {
  pollfd p{fd, events, 0};
  for (;;) {
    int n = ::poll(&p, 1, MillisLeft(deadline));
    if (n > 0) return true;
    if (n == 0 || errno != EINTR) return false;
  }
}

// The uid at the other end of a connected local socket; -1 when unknown.
long PeerUid(int fd) {
  ucred cred{};
  socklen_t size = sizeof cred;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &size) != 0) return -1;
  return static_cast<long>(cred.uid);
}

// Closes its descriptor on every path out.
struct Descriptor {
  int fd;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};

// A non-blocking socket connected to `path`, or -1. A local connect ends at
// once: a listener whose backlog is full refuses, as does no listener.
int Connect(const std::string& path) {
  sockaddr_un addr{};
  if (path.size() >= sizeof addr.sun_path) return -1;
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  Descriptor guard{fd};
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) return -1;
  guard.fd = -1;
  return fd;
}

bool SendAll(int fd, const std::string& bytes, Deadline deadline) {
  for (size_t sent = 0; sent < bytes.size();) {
    ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<size_t>(n);
    } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
      return false;
    } else if (!WaitFor(fd, POLLOUT, deadline)) {
      return false;
    }
  }
  return true;
}

// Reads until the other end closes, the bound or the deadline; the answer
// counts only when the other end closed it.
bool ReadToEnd(int fd, Deadline deadline, std::string* answer) {
  char buffer[4096];
  while (answer->size() <= kMaxAnswerBytes) {
    ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n == 0) return !answer->empty();
    if (n > 0) {
      answer->append(buffer, static_cast<size_t>(n));
    } else if (errno != EAGAIN && errno != EINTR) {
      return !answer->empty();  // a reset after the answer still gives it
    } else if (!WaitFor(fd, POLLIN, deadline)) {
      return false;
    }
  }
  return false;
}

}  // namespace

std::string ControlChannelName(Sha1Function sha1) { return "dorvane-" + sha1(ProgramFolder()).substr(0, 16); }

std::string ControlSocketFolder(const std::string& path) { return path.substr(0, path.rfind('/')); }

bool IsPrivateFolder(const std::string& folder) {
  struct stat st {};
  return ::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
         (st.st_mode & 077) == 0;
}

std::vector<std::string> ControlSocketPaths(Sha1Function sha1) {
  std::vector<std::string> paths;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && runtime[0] == '/' && IsPrivateFolder(runtime))
    paths.push_back(std::string(runtime) + "/" + ControlChannelName(sha1));
  paths.push_back(ProgramPath("run/") + ControlChannelName(sha1));
  // A socket path is short (108 bytes): for a deep program folder, a
  // folder of this user's own in the temporary folder, used only if it is
  // really theirs.
  std::error_code ec;
  std::string temp = std::filesystem::temp_directory_path(ec).string();
  if (!ec) paths.push_back(temp + "/dorvane-" + std::to_string(::geteuid()) + "/" + ControlChannelName(sha1));
  return paths;
}

ControlOutcome AskRunningRelay(const std::string& command, int timeout_ms, std::string* answer,
                               std::string* foreign_path, Sha1Function sha1) {
  for (const std::string& path : ControlSocketPaths(sha1)) {
    if (!IsPrivateFolder(ControlSocketFolder(path))) continue;
    Deadline deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    Descriptor socket{Connect(path)};
    if (socket.fd < 0) continue;
    if (PeerUid(socket.fd) != static_cast<long>(::geteuid())) {
      *foreign_path = path;
      return ControlOutcome::Foreign;
    }
    answer->clear();
    bool answered = SendAll(socket.fd, command + "\n", deadline) && ReadToEnd(socket.fd, deadline, answer);
    return answered ? ControlOutcome::Answered : ControlOutcome::NoInstance;
  }
  return ControlOutcome::NoInstance;
}

}  // namespace dorvane
