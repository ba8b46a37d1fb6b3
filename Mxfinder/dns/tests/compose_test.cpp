#include <gtest/gtest.h>

#include <string>

#include "dns/dns_message.h"
#include "dns_packet_support.h"

namespace mxfinder {
namespace {

using testing::FailureOf;
using testing::Packet;

CDNSMessage QueryFor(const std::string& name, int32_t type = 15, int32_t qclass = 1) {
  CDNSMessage message;
  message.Header.RecursionDesired = true;
  message.Questions.Add(name, type, qclass);
  return message;
}

std::string Compose(const CDNSMessage& message) {
  std::string bytes;
  EXPECT_TRUE(message.ComposeQuery(bytes));
  return bytes;
}

TEST(ComposeQuery, MxQueryForTwoLabelNameIsTheExpected29Bytes) {
  const std::string expected = Packet()
                                   .Header(0, 0x0100, 1, 0, 0, 0)
                                   .U8(7).Raw("example").U8(3).Raw("com").U8(0)
                                   .U16(15).U16(1)
                                   .bytes();
  const std::string bytes = Compose(QueryFor("example.com"));
  EXPECT_EQ(bytes.size(), 29u);
  EXPECT_EQ(bytes, expected);
}

TEST(ComposeQuery, HeaderCarriesIdentifierOpcodeAndRecursionFlag) {
  struct Case {
    int32_t id;
    int16_t opcode;
    bool rd;
    std::string first_four;
  };
  const Case cases[] = {
      {0x1234, 0, false, std::string("\x12\x34\x00\x00", 4)},
      {65535, 1, true, std::string("\xFF\xFF\x09\x00", 4)},
      {1, 2, false, std::string("\x00\x01\x10\x00", 4)},
      {1, 3, true, std::string("\x00\x01\x01\x00", 4)},  // no bits for other opcodes
  };
  for (const Case& c : cases) {
    CDNSMessage message = QueryFor("a");
    message.Header.MessageID = c.id;
    message.Header.OPCode = c.opcode;
    message.Header.RecursionDesired = c.rd;
    // Flags of a response never go into a query.
    message.Header.IsResponse = message.Header.AuthoritativeAnswer = message.Header.RecursionAvailable = true;
    EXPECT_EQ(Compose(message).substr(0, 4), c.first_four) << "id " << c.id << " opcode " << c.opcode;
  }
}

TEST(ComposeQuery, OnlyTheFirstQuestionIsEncoded) {
  CDNSMessage message = QueryFor("a.b", 15, 1);
  message.Questions.Add("other.example", 1, 1);
  const std::string bytes = Compose(message);
  EXPECT_EQ(bytes.substr(4, 2), std::string("\x00\x01", 2));
  EXPECT_EQ(bytes.substr(12), Packet().Question("a.b", 15, 1).bytes());
}

TEST(ComposeQuery, EmptyLabels) {
  EXPECT_EQ(Compose(QueryFor("example.com.")), Compose(QueryFor("example.com")));  // absolute form
  EXPECT_EQ(Compose(QueryFor("")).substr(12), Packet().U8(0).U16(15).U16(1).bytes());  // root
  EXPECT_EQ(Compose(QueryFor(".")), Compose(QueryFor("")));
  // Inside a name an empty label is written as it is; callers do not pass one.
  EXPECT_EQ(Compose(QueryFor("a..b")).substr(12, 6), std::string("\x01" "a\x00\x01" "b\x00", 6));
}

// A name whose header and labels take 12 + 127 * 256 + (last + 1) bytes.
std::string LongName(int last) {
  std::string name;
  for (int i = 0; i < 127; ++i) name += std::string(255, 'x') + ".";
  return name + std::string(last, 'y');
}

TEST(ComposeQuery, LongestLabelAndName) {
  EXPECT_EQ(Compose(QueryFor(std::string(255, 'x'))).size(), 12u + 256 + 5);
  EXPECT_EQ(Compose(QueryFor(LongName(237))).size(), 32762u + 5);
}

TEST(ComposeQuery, FailuresNameTheOperationAndLeaveTheOutputAlone) {
  struct Case {
    const char* what;
    CDNSMessage message;
    long number;
  };
  Case cases[] = {
      {"no question", CDNSMessage(), 9},
      {"label of 256", QueryFor(std::string(256, 'x')), 6},
      {"header and labels of 32763", QueryFor(LongName(238)), 6},
      {"type 65536", QueryFor("a", 65536, 1), 6},
      {"type -1", QueryFor("a", -1, 1), 6},
      {"class 65536", QueryFor("a", 15, 65536), 6},
      {"class -1", QueryFor("a", 15, -1), 6},
      {"id 65536", QueryFor("a"), 6},
      {"id -1", QueryFor("a"), 6},
  };
  cases[7].message.Header.MessageID = 65536;
  cases[8].message.Header.MessageID = -1;
  for (Case& c : cases) {
    std::string out = "untouched";
    const auto failure = FailureOf([&] { c.message.ComposeQuery(out); });
    EXPECT_EQ(failure.number, c.number) << c.what;
    EXPECT_EQ(failure.source, "CDnsMessage.ComposeQuery") << c.what;
    EXPECT_EQ(out, "untouched") << c.what;
  }
}

}  // namespace
}  // namespace mxfinder
