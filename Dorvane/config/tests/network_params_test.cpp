#include "config/network_params.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "config/configuration.h"
#include "config_support.h"
#include "tests/support/test_harness.h"

namespace dorvane {
namespace {

TEST(ParseNameservers, KeepsDottedIPv4ServersInFileOrder) {
  EXPECT_EQ(ParseNameservers("# generated\n"
                             "search example\n"
                             "nameserver 127.0.0.53\n"
                             "nameserver ::1\n"
                             "  nameserver\t127.0.0.2  # second\n"
                             "nameserver 127.0.0\n"
                             "nameservers 127.0.0.9\n"
                             ";nameserver 127.0.0.8\n"
                             "nameserver\n"),
            (std::vector<std::string>{"127.0.0.53", "127.0.0.2"}));
}

class DiscoveryTest : public ::testing::Test {
 protected:
  void TearDown() override { UseSystemResolver(); }

  // Runs LoadDefault with `resolv` as the resolver file (nothing: missing).
  void LoadWith(const char* resolv) {
    std::string path = program_.Path("resolv.conf");
    if (resolv) program_.Write("resolv.conf", resolv);
    SetResolvConfPath(path);
    LoadDefault();
  }

  TestProgram program_;
};

TEST_F(DiscoveryTest, TwoServersAreCountedAndListed) {
  LoadWith("nameserver 127.0.0.53\r\nnameserver 127.0.0.54\r\n");
  EXPECT_EQ(DNSList, (std::vector<std::string>{"2", "127.0.0.53", "127.0.0.54"}));
  EXPECT_EQ(DefaultConfig().DNSServer, "127.0.0.53");
  char name[256] = {};
  gethostname(name, sizeof name - 1);
  EXPECT_EQ(HostName, name);
}

TEST_F(DiscoveryTest, ReadableFileWithoutServerGivesOneEmptyServer) {
  LoadWith("search example\n");
  EXPECT_EQ(DNSList, (std::vector<std::string>{"1", ""}));
  EXPECT_EQ(DefaultConfig().DNSServer, "");
}

TEST_F(DiscoveryTest, UnreadableFileFallsBackToLoopback) {
  NetHostName.clear();
  LoadWith(nullptr);
  EXPECT_EQ(DNSList, (std::vector<std::string>{"0"}));
  EXPECT_EQ(DefaultConfig().DNSServer, "127.0.0.1");
  EXPECT_EQ(HostName, "");
}

}  // namespace
}  // namespace dorvane
