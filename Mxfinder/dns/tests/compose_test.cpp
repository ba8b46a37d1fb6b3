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
    // Flags a response would carry never go into a query.
    message.Header.IsResponse = message.Header.AuthoritativeAnswer = message.Header.IsTruncated = true;
    message.Header.RecursionAvailable = true;
    message.Header.ResponseCode = 3;
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

TEST(ComposeQuery, TrailingDotAndRootName) {
  EXPECT_EQ(Compose(QueryFor("example.com.")), Compose(QueryFor("example.com")));
  EXPECT_EQ(Compose(QueryFor("")).substr(12), Packet().U8(0).U16(15).U16(1).bytes());
  EXPECT_EQ(Compose(QueryFor(".")), Compose(QueryFor("")));
}

TEST(ComposeQuery, InnerEmptyLabelIsWrittenAsZeroLength) {
  EXPECT_EQ(Compose(QueryFor("a..b")).substr(12), Packet().U8(1).Raw("a").U8(0).U8(1).Raw("b").U8(0).U16(15).U16(1).bytes());
}

TEST(ComposeQuery, BytesAboveSevenBitsGoOutUnchanged) {
  const std::string name("\xE9t\xE9", 3);
  EXPECT_EQ(Compose(QueryFor(name)).substr(12, 5), std::string("\x03\xE9t\xE9\x00", 5));
}

TEST(ComposeQuery, LimitsOfLabelsAndName) {
  // 255 is the longest label a length byte can carry.
  EXPECT_EQ(Compose(QueryFor(std::string(255, 'x'))).size(), 12u + 256 + 5);
  // Header and labels of 32762 bytes still compose: 12 + 127 * 256 + 238.
  std::string longest;
  for (int i = 0; i < 127; ++i) longest += std::string(255, 'x') + ".";
  longest += std::string(237, 'y');
  EXPECT_EQ(Compose(QueryFor(longest)).size(), 32762u + 5);
}

TEST(ComposeQuery, OutOfRangeValuesFailWithOverflowAndLeaveTheOutputAlone) {
  std::string too_long;
  for (int i = 0; i < 127; ++i) too_long += std::string(255, 'x') + ".";
  too_long += std::string(238, 'y');  // header and labels reach 32763
  struct Case {
    const char* what;
    CDNSMessage message;
  };
  Case cases[] = {
      {"label of 256", QueryFor(std::string(256, 'x'))},
      {"name of 32763", QueryFor(too_long)},
      {"type 65536", QueryFor("a", 65536, 1)},
      {"type -1", QueryFor("a", -1, 1)},
      {"class 65536", QueryFor("a", 15, 65536)},
      {"class -1", QueryFor("a", 15, -1)},
      {"id 65536", QueryFor("a")},
      {"id -1", QueryFor("a")},
  };
  cases[6].message.Header.MessageID = 65536;
  cases[7].message.Header.MessageID = -1;
  for (Case& c : cases) {
    std::string out = "untouched";
    const auto failure = FailureOf([&] { c.message.ComposeQuery(out); });
    EXPECT_EQ(failure.number, 6) << c.what;
    EXPECT_EQ(failure.source, "CDnsMessage.ComposeQuery") << c.what;
    EXPECT_EQ(out, "untouched") << c.what;
  }
}

TEST(ComposeQuery, WithoutQuestionFailsWithSubscriptError) {
  CDNSMessage message;
  std::string out;
  const auto failure = FailureOf([&] { message.ComposeQuery(out); });
  EXPECT_EQ(failure.number, 9);
  EXPECT_EQ(failure.source, "CDnsMessage.ComposeQuery");
}

TEST(ComposeQuery, ComposedQueryParsesBack) {
  CDNSMessage query = QueryFor("mail.example.org", 15, 1);
  query.Header.MessageID = 4242;
  CDNSMessage decoded;
  ASSERT_TRUE(decoded.Parse(Compose(query)));
  EXPECT_EQ(decoded.Header.MessageID, 4242);
  EXPECT_TRUE(decoded.Header.IsQuery);
  EXPECT_TRUE(decoded.Header.RecursionDesired);
  ASSERT_EQ(decoded.Questions.Count(), 1);
  EXPECT_EQ(decoded.Questions.Item(1).QuestionName, "mail.example.org");
  EXPECT_EQ(decoded.Questions.Item(1).QuestionType, 15);
}

}  // namespace
}  // namespace mxfinder
