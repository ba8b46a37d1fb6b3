#include "resolver/answer.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace mxfinder {
namespace {

TEST(ReverseMappingNameTest, OnlyDottedIpv4AddressesAreRewritten) {
  const struct {
    const char* name;
    const char* expected;
  } cases[] = {
      {"1.2.3.4", "4.3.2.1.IN-ADDR.ARPA"},
      {"192.168.0.255", "255.0.168.192.IN-ADDR.ARPA"},
      {"010.0.0.1", "1.0.0.10.IN-ADDR.ARPA"},
      {"example.com", ""},
      {"1.2.3", ""},
      {"1.2.3.4.5", ""},
      {"1.2.3.4.", ""},
      {"1..3.4", ""},
      {"256.1.1.1", ""},
      {"1.2.3.-4", ""},
      {"1234.1.1.1", ""},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(c.expected, ReverseMappingName(c.name)) << c.name;
}

std::unique_ptr<CDNSMessage> Reply(std::function<void(CDNSMessage&)> change = nullptr) {
  auto reply = std::make_unique<CDNSMessage>();
  reply->Header.IsResponse = true;
  reply->Header.MessageID = 4711;
  reply->Questions.Add("example.test", 15, 1);
  if (change) change(*reply);
  return reply;
}

TEST(IsAnswerTest, OnlyTheServersResponseToThisQuestionCounts) {
  const ExpectedAnswer query{"127.0.0.53", 4711, "example.test"};
  EXPECT_TRUE(IsAnswer(query, "127.0.0.53", 53, *Reply()));
  EXPECT_TRUE(IsAnswer(query, "127.0.0.53", 53, *Reply([](CDNSMessage& m) {
    m.Questions.Remove(1);
    m.Questions.Add("EXAMPLE.Test", 15, 1);
  }))) << "servers may echo the name in another case";

  EXPECT_FALSE(IsAnswer(query, "127.0.0.54", 53, *Reply())) << "other address";
  EXPECT_FALSE(IsAnswer(query, "127.0.0.53", 5353, *Reply())) << "other port";
  EXPECT_FALSE(IsAnswer(query, "127.0.0.53", 53, *Reply([](CDNSMessage& m) { m.Header.MessageID = 4712; })));
  EXPECT_FALSE(IsAnswer(query, "127.0.0.53", 53, *Reply([](CDNSMessage& m) { m.Header.IsResponse = false; })));
  EXPECT_FALSE(IsAnswer(query, "127.0.0.53", 53, *Reply([](CDNSMessage& m) {
    m.Questions.Remove(1);
    m.Questions.Add("example.tes", 15, 1);
  })));
  EXPECT_FALSE(IsAnswer(query, "127.0.0.53", 53, *Reply([](CDNSMessage& m) {
    m.Questions.Remove(1);
    m.Questions.Add("example.test", 1, 1);
  }))) << "A question";
  EXPECT_FALSE(IsAnswer(query, "127.0.0.53", 53, *Reply([](CDNSMessage& m) { m.Questions.Remove(1); })));
  EXPECT_FALSE(IsAnswer(query, "127.0.0.53", 53,
                        *Reply([](CDNSMessage& m) { m.Questions.Add("example.test", 15, 1); })));
}

CDnsRData Mx(int preference, const std::string& exchange) {
  auto mx = std::make_shared<CDnsMxData>();
  mx->Preference = preference;
  mx->Exchange = exchange;
  return mx;
}

TEST(MxRecordTextTest, MxRecordsInAnswerOrderOthersSkipped) {
  CDNSResourceRecords answers;
  EXPECT_EQ("", MxRecordText(answers));
  answers.Add("alias.test", 5, 1, 300, 0, std::string("example.test"));
  answers.Add("example.test", 15, 1, 3600, 0, Mx(20, "mx2.example.test"));
  answers.Add("example.test", 1, 1, 3600, 4, std::string("127.0.0.1"));
  answers.Add("example.test", 15, 1, 4294967295u, 0, Mx(10, "mx1.example.test"));
  answers.Add("example.test", 15, 1, 60, 0, CDnsRData{});  // MX whose data did not decode
  EXPECT_EQ(
      "20\xC2\xA4mx2.example.test\xC2\xA4"
      "3600|10\xC2\xA4mx1.example.test\xC2\xA4"
      "4294967295|",
      MxRecordText(answers));
}

// Names that would cut the text (NUL), forge records ("|", "¤" as UTF-8 or
// as its lone byte), split log lines (CR, LF) or exceed a DNS name drop
// their own record only.
TEST(MxRecordTextTest, RecordsWithUnsafeNamesAreSkipped) {
  const std::string good = "10\xC2\xA4mx.example.test\xC2\xA4" "60|";
  const struct {
    const char* what;
    std::string owner, exchange;
  } cases[] = {
      {"NUL", "example.test", std::string("mx\0.test", 8)},
      {"bar", "example.test", "a|0\xC2\xA4" "forged.test\xC2\xA4" "1"},
      {"currency sign in UTF-8", "example.test", "a\xC2\xA4" "b"},
      {"currency sign byte", "example.test", "a\xA4" "b"},
      {"CR", "example.test", "mx\r.test"},
      {"LF", "example.test", "mx\n.test"},
      {"other control byte", "example.test", "mx\x1B.test"},
      {"256 bytes", "example.test", std::string(256, 'a')},
      {"owner with LF", "example\n.test", "mx.test"},
  };
  for (const auto& c : cases) {
    CDNSResourceRecords answers;
    answers.Add(c.owner, 15, 1, 60, 0, Mx(5, c.exchange));
    answers.Add("example.test", 15, 1, 60, 0, Mx(10, "mx.example.test"));
    EXPECT_EQ(good, MxRecordText(answers)) << c.what;
  }
  CDNSResourceRecords longest;
  longest.Add("example.test", 15, 1, 60, 0, Mx(10, std::string(255, 'a')));
  EXPECT_EQ("10\xC2\xA4" + std::string(255, 'a') + "\xC2\xA4" "60|", MxRecordText(longest));
}

TEST(MxRecordTextTest, TextStopsAtItsCapOnARecordBoundary) {
  CDNSResourceRecords answers;
  for (int i = 0; i < 1000; ++i) answers.Add("example.test", 15, 1, 60, 0, Mx(i, std::string(250, 'a')));
  const std::string text = MxRecordText(answers);
  EXPECT_LE(text.size(), kMaxRecordText);
  EXPECT_GT(text.size(), kMaxRecordText - 300);
  ASSERT_FALSE(text.empty());
  EXPECT_EQ('|', text.back());
}

TEST(ResolutionTextTest, TruncatedAnswerWithoutRecordsIsAFailure) {
  const struct {
    bool truncated;
    bool with_mx;
    const char* expected;
  } cases[] = {
      {false, false, ""},
      {true, false, "ERROR_DNS_TIMEOUT"},
      {true, true, "10\xC2\xA4mx.test\xC2\xA4" "60|"},
      {false, true, "10\xC2\xA4mx.test\xC2\xA4" "60|"},
  };
  for (const auto& c : cases) {
    auto reply = Reply([&](CDNSMessage& m) {
      m.Header.IsTruncated = c.truncated;
      if (c.with_mx) m.Answers.Add("example.test", 15, 1, 60, 0, Mx(10, "mx.test"));
    });
    EXPECT_EQ(c.expected, ResolutionText(*reply)) << "truncated " << c.truncated << ", MX " << c.with_mx;
  }
}

}  // namespace
}  // namespace mxfinder
