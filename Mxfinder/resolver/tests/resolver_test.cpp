#include "resolver/mxfinder.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <optional>
#include <vector>
#include <QTimer>

#include "net/tests/event_loop_support.h"
#include "resolver/component_error.h"

namespace mxfinder {
namespace {

// A DNS server that reads queries and never answers, on 127.0.83.55:53.
class SilentServer {
 public:
  SilentServer() {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(53);
    inet_pton(AF_INET, "127.0.83.55", &address.sin_addr);
    bound_ = bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~SilentServer() { close(fd_); }
  bool bound() const { return bound_; }
  // The first query waiting, "" when none.
  std::string Query() {
    char buffer[512];
    ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : "";
  }

 private:
  int fd_;
  bool bound_ = false;
};

TEST(ResolverTest, SilentServerTimesOutAfterFiveSecondsWhileCallersTimersRun) {
  SilentServer server;
  if (!server.bound()) GTEST_SKIP() << "binding port 53 needs root";
  int ticks = 0;
  QTimer caller_timer;
  QObject::connect(&caller_timer, &QTimer::timeout, [&] { ++ticks; });
  caller_timer.start(100);

  CMxfinder resolver;
  std::string domain = "1.2.3.4";
  QElapsedTimer clock;
  clock.start();
  EXPECT_EQ("ERROR_DNS_TIMEOUT", resolver.ResolveDnsQuery(domain, "127.0.83.55"));
  EXPECT_GE(clock.elapsed(), 4500);
  EXPECT_LE(clock.elapsed(), 6500);
  EXPECT_GE(ticks, 35);
  EXPECT_EQ("4.3.2.1.IN-ADDR.ARPA", domain);

  CDNSMessage query;
  ASSERT_TRUE(query.Parse(server.Query())) << "the query went out to the dotted server at once";
  EXPECT_TRUE(query.Header.RecursionDesired);
  ASSERT_EQ(1, query.Questions.Count());
  EXPECT_EQ("4.3.2.1.IN-ADDR.ARPA", query.Questions.Item(1).QuestionName);
  EXPECT_EQ(15, query.Questions.Item(1).QuestionType);
  EXPECT_EQ("", server.Query()) << "one query only";
}

// Holds every free descriptor below a lowered limit, so that no socket can
// be made, until destroyed.
class DescriptorsExhausted {
 public:
  DescriptorsExhausted() {
    getrlimit(RLIMIT_NOFILE, &saved_);
    rlimit low = saved_;
    low.rlim_cur = 64;
    setrlimit(RLIMIT_NOFILE, &low);
    for (int fd; held_.size() < 64 && (fd = open("/dev/null", O_RDONLY)) >= 0;) held_.push_back(fd);
  }
  ~DescriptorsExhausted() {
    for (int fd : held_) close(fd);
    setrlimit(RLIMIT_NOFILE, &saved_);
  }

 private:
  rlimit saved_{};
  std::vector<int> held_;
};

// Offline, behind a firewall or out of descriptors, the query cannot go
// out: that is a resolution that failed, given at once, never an error that
// would end the caller.
TEST(ResolverTest, QueryThatCannotGoOutIsATimeOutAtOnce) {
  struct Case {
    const char* what;
    const char* server;
    bool exhaust_descriptors;
  } cases[] = {
      // Broadcast without permission: sendto fails with EACCES.
      {"send refused", "127.255.255.255", false},
      {"no socket", "127.0.83.55", true},
  };
  for (const Case& c : cases) {
    CMxfinder resolver;
    std::string domain = "offline.test";
    std::string result;
    QElapsedTimer clock;
    clock.start();
    try {
      std::optional<DescriptorsExhausted> exhausted;
      if (c.exhaust_descriptors) exhausted.emplace();
      result = resolver.ResolveDnsQuery(domain, c.server);
    } catch (const ComponentError& e) {
      result = "error " + std::to_string(e.number()) + " from " + e.source();
    }
    EXPECT_EQ("ERROR_DNS_TIMEOUT", result) << c.what;
    EXPECT_LT(clock.elapsed(), 1000) << c.what;
  }
}

TEST(ResolverTest, NameTheCodecRefusesFailsBeforeAnythingIsSent) {
  CMxfinder resolver;
  std::string domain = std::string(256, 'a') + ".test";
  try {
    resolver.ResolveDnsQuery(domain, "127.0.83.55");
    FAIL() << "no error";
  } catch (const ComponentError& e) {
    EXPECT_EQ(6, e.number());
    EXPECT_EQ("CDnsMessage.ComposeQuery", e.source());
  }
}

}  // namespace
}  // namespace mxfinder
