#include "qt/control_channel.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace dorvane {
namespace {

// The relay names its channel with Qt's digest and the mail command with
// OpenSSL's: any difference and `sendmail` never reaches the relay.
TEST(ControlChannel, RelayAndMailCommandDigestsNameTheSameChannel) {
  const std::vector<std::string> folders = {
      "",
      "/home/ann/.local/share/dorvane/",
      "/home/\xC3\xA9lodie/dorvane/",       // UTF-8
      std::string("/tmp/a\0b/\xFF/", 9),  // any byte a folder name may hold
      std::string(1000, 'a'),              // several blocks
  };
  for (const std::string& folder : folders) EXPECT_EQ(QtSha1Hex(folder), Sha1Hex(folder)) << folder;
}

}  // namespace
}  // namespace dorvane
