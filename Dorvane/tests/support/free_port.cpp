#include "tests/support/free_port.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <random>
#include <stdexcept>

namespace dorvane {
namespace {

constexpr int kLowest = 20000;  // below the usual ephemeral range's users
constexpr int kTries = 200;

// Binds `port` (0: any) on 127.0.0.1 and returns the port bound, or 0.
int BindLoopback(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  socklen_t len = sizeof a;
  int bound = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    bound = ntohs(a.sin_port);
  ::close(fd);
  return bound;
}

}  // namespace

int FreeLoopbackPort(int highest) {
  if (highest >= 65535) {
    if (int port = BindLoopback(0)) return port;
  }
  std::mt19937 draw{std::random_device{}()};
  std::uniform_int_distribution<int> ports(kLowest, highest);
  for (int i = 0; i < kTries && highest >= kLowest; ++i) {
    if (int port = BindLoopback(ports(draw))) return port;
  }
  throw std::runtime_error("no free loopback port");
}

}  // namespace dorvane
