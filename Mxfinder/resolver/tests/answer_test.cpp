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

}  // namespace
}  // namespace mxfinder
