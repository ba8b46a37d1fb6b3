#include "config/network_params.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>

#include "config/configuration.h"
#include "tests/support/test_environment.h"

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
  // Runs LoadDefault with `resolv` as the resolver file (nothing: missing).
  void LoadWith(const char* resolv) {
    if (resolv) t_.program.Write("resolv.conf", resolv);
    t_.settings.network.resolv_conf_path = t_.program.Path("resolv.conf");
    LoadDefault(t_.settings, t_.files);
  }

  TestEnvironment t_;
  const std::vector<std::string>& dns_list_ = t_.settings.network.dns_list;
};

TEST_F(DiscoveryTest, TwoServersAreCountedAndListed) {
  LoadWith("nameserver 127.0.0.53\r\nnameserver 127.0.0.54\r\n");
  EXPECT_EQ(dns_list_, (std::vector<std::string>{"2", "127.0.0.53", "127.0.0.54"}));
  EXPECT_EQ(t_.settings.defaults.DNSServer, "127.0.0.53");
  char name[256] = {};
  gethostname(name, sizeof name - 1);
  EXPECT_EQ(t_.settings.host_name, name);
}

TEST_F(DiscoveryTest, ReadableFileWithoutServerGivesOneEmptyServer) {
  LoadWith("search example\n");
  EXPECT_EQ(dns_list_, (std::vector<std::string>{"1", ""}));
  EXPECT_EQ(t_.settings.defaults.DNSServer, "");
}

TEST_F(DiscoveryTest, MissingOrUnreadableFileFallsBackToLoopback) {
  t_.files.Fail("Read", "unreadable", EACCES);
  for (const char* name : {"missing.conf", "unreadable.conf"}) {
    SCOPED_TRACE(name);
    t_.program.Write("unreadable.conf", "nameserver 127.0.0.53\n");
    t_.settings.network.host_name.clear();
    t_.settings.network.resolv_conf_path = t_.program.Path(name);
    LoadDefault(t_.settings, t_.files);
    EXPECT_EQ(dns_list_, (std::vector<std::string>{"0"}));
    EXPECT_EQ(t_.settings.defaults.DNSServer, "127.0.0.1");
    EXPECT_EQ(t_.settings.host_name, "");
  }
}

}  // namespace
}  // namespace dorvane
