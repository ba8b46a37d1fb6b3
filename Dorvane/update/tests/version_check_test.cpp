#include "update/version_check.h"

#include <gtest/gtest.h>

namespace dorvane {
namespace {

TEST(VersionCheckTest, RequestLinesAreExact) {
  EXPECT_EQ(VersionRequest("www.example.org", "3.0"),
            "GET /Dorvane/version HTTP/1.1\r\n"
            "Accept: image/gif, image/jpeg, */*\r\n"
            "Accept-Language: fr\r\n"
            "Accept-Encoding: gzip , deflate\r\n"
            "User-Agent: Dorvane/3.0 (Dorvane Application from Telvar)\r\n"
            "Host: www.example.org\r\n"
            "Connection: Keep-Alive\r\n"
            "\r\n");
}

TEST(VersionCheckTest, AnswerReading) {
  struct Case {
    const char* answer;
    const char* version;  // nullptr: ignored
  } cases[] = {
      {"HTTP/1.1 200 OK\r\nContent-Length: 11\r\n\r\nBEGIN3.1END", "3.1"},
      {"BEGIN3.1", "3.1"},                      // no END: the rest
      {"xBEGIN4.0ENDyBEGIN9.9END", "4.0"},      // the first BEGIN
      {"BEGIN3.1.7END", "3.1"},                 // only the numbers go on
      {"BEGIN03.010END", "3.10"},
      {"BEGIN3.1.<h1>x</h1><img src=y>END", "3.1"},
      {"HTTP/1.1 404 Not Found\r\n\r\n", nullptr},
      {"BEGIN3END", nullptr},
      {"BEGIN.1END", nullptr},
      {"BEGIN3.END", nullptr},
      {"BEGINa.1END", nullptr},
      {"BEGIN 3.1END", nullptr},
      {"BEGIN-3.1END", nullptr},
      {"BEGIN3.32768END", nullptr},             // beyond 16 bits
      {"BEGIN99999999999999.1END", nullptr},
  };
  for (const Case& c : cases) {
    auto version = ParseVersionAnswer(c.answer);
    if (!c.version) {
      EXPECT_FALSE(version) << c.answer << " read as " << version->text;
      continue;
    }
    ASSERT_TRUE(version) << c.answer;
    EXPECT_EQ(version->text, c.version);
  }
}

TEST(VersionCheckTest, NewerThanThreeZero) {
  struct Case {
    int major, minor;
    bool newer;
  } cases[] = {{3, 1, true}, {4, 0, true}, {3, 0, false}, {2, 9, false}, {2, 10, false}, {10, 0, true}};
  for (const Case& c : cases)
    EXPECT_EQ(IsNewer({c.major, c.minor, ""}, 3, 0), c.newer) << c.major << "." << c.minor;
}

TEST(VersionCheckTest, UpdateServerOption) {
  auto plain = ParseUpdateServer("updates.example.org");
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->name, "updates.example.org");
  EXPECT_EQ(plain->port, 80);
  auto with_port = ParseUpdateServer("127.0.0.1:8080");
  ASSERT_TRUE(with_port);
  EXPECT_EQ(with_port->name, "127.0.0.1");
  EXPECT_EQ(with_port->host, "127.0.0.1:8080");
  EXPECT_EQ(with_port->port, 8080);
  for (const char* bad : {"", ":80", "host:", "host:0", "host:65536", "host:8o"})
    EXPECT_FALSE(ParseUpdateServer(bad)) << bad;
}

}  // namespace
}  // namespace dorvane
