#include <gtest/gtest.h>

#include <string>

#include "dns/dns_message.h"
#include "dns/dns_support.h"
#include "dns_packet_support.h"

namespace mxfinder {
namespace {

using testing::GoodMxAnswer;
using testing::Labels;
using testing::Packet;
using testing::Pointer;

CDNSMessage Parsed(const std::string& bytes) {
  CDNSMessage message;
  EXPECT_TRUE(message.Parse(bytes));
  return message;
}

TEST(Parse, HeaderFlagsAndCounts) {
  struct Case {
    uint16_t flags;
    bool response, aa, tc, rd, ra;
    int opcode, rcode;
  };
  const Case cases[] = {
      {0x8180, true, false, false, true, true, 0, 0},
      {0x8583, true, true, false, true, true, 0, 3},
      {0x0A00, false, false, true, false, false, 1, 0},
      {0x9005, true, false, false, false, false, 2, 5},
      {0xF87F, true, false, false, false, false, 15, 15},  // Z bits ignored
  };
  for (const Case& c : cases) {
    const CDNSMessage m = Parsed(Packet().Header(0xFEDC, c.flags, 0, 0, 0, 0).bytes());
    SCOPED_TRACE(::testing::Message() << std::hex << "flags 0x" << c.flags);
    EXPECT_EQ(m.Header.MessageID, 0xFEDC);
    EXPECT_EQ(m.Header.IsResponse, c.response);
    EXPECT_EQ(m.Header.IsQuery, !c.response);
    EXPECT_EQ(m.Header.AuthoritativeAnswer, c.aa);
    EXPECT_EQ(m.Header.IsTruncated, c.tc);
    EXPECT_EQ(m.Header.RecursionDesired, c.rd);
    EXPECT_EQ(m.Header.RecursionAvailable, c.ra);
    EXPECT_EQ(m.Header.OPCode, c.opcode);
    EXPECT_EQ(m.Header.ResponseCode, c.rcode);
    EXPECT_EQ(m.Header.ZReserved, 0);
  }
}

TEST(Parse, TypicalMxAnswerDecodesEverySection) {
  const CDNSMessage m = Parsed(GoodMxAnswer());
  EXPECT_EQ(m.Header.ANCount, 2);
  ASSERT_EQ(m.Questions.Count(), 1);
  EXPECT_EQ(m.Questions.Item(1).QuestionName, "example.com");
  EXPECT_EQ(m.Questions.Item(1).QuestionType, 15);
  EXPECT_EQ(m.Questions.Item(1).QuestionClass, 1);

  ASSERT_EQ(m.Answers.Count(), 2);
  const CDNSResourceRecord& first = m.Answers.Item(1);
  EXPECT_EQ(first.RName, "example.com");  // owner is the pointer C0 0C
  EXPECT_EQ(first.RType, 15);
  EXPECT_EQ(first.RClass, 1);
  EXPECT_EQ(first.TTL, 3600u);
  EXPECT_EQ(first.RDLength, 19);
  ASSERT_NE(first.MxData(), nullptr);
  EXPECT_EQ(first.MxData()->Preference, 10);
  EXPECT_EQ(first.MxData()->Exchange, "mx1.example.com");
  ASSERT_NE(m.Answers.Item(2).MxData(), nullptr);
  EXPECT_EQ(m.Answers.Item(2).MxData()->Preference, 20);
  EXPECT_EQ(m.Answers.Item(2).MxData()->Exchange, "mx2.example.com");  // label, then pointer

  ASSERT_EQ(m.Authorities.Count(), 1);
  EXPECT_EQ(m.Authorities.Item(1).TextData(), "ns.example.net");

  ASSERT_EQ(m.AdditionalInfos.Count(), 2);
  EXPECT_EQ(m.AdditionalInfos.Item(1).RName, "mx1.example.com");
  EXPECT_EQ(m.AdditionalInfos.Item(1).TextData(), "192.0.2.10");
  EXPECT_EQ(m.AdditionalInfos.Item(2).RType, 28);
  EXPECT_TRUE(std::holds_alternative<std::monostate>(m.AdditionalInfos.Item(2).RData));
}

TEST(Parse, UndecodedTypeIsSkippedAndTheNextRecordStillDecodes) {
  const std::string bytes = Packet()
                                .Header(1, 0x8180, 0, 0, 0, 2)
                                .Record(Labels("h.example"), 28, 60, std::string(16, '\xAB'))
                                .Record(Pointer(12), 1, 60, std::string("\x7F\x00\x00\x01", 4))
                                .bytes();
  const CDNSMessage m = Parsed(bytes);
  ASSERT_EQ(m.AdditionalInfos.Count(), 2);
  EXPECT_TRUE(std::holds_alternative<std::monostate>(m.AdditionalInfos.Item(1).RData));
  EXPECT_EQ(m.AdditionalInfos.Item(1).RDLength, 16);
  EXPECT_EQ(m.AdditionalInfos.Item(2).RName, "h.example");
  EXPECT_EQ(m.AdditionalInfos.Item(2).TextData(), "127.0.0.1");
}

TEST(Parse, WithoutQuestionsAnswersStartRightAfterTheHeader) {
  const CDNSMessage m =
      Parsed(Packet().Header(1, 0x8180, 0, 1, 0, 0).Record(Labels("x.test"), 5, 1, Labels("y.test")).bytes());
  EXPECT_EQ(m.Questions.Count(), 0);
  ASSERT_EQ(m.Answers.Count(), 1);
  EXPECT_EQ(m.Answers.Item(1).RName, "x.test");
  EXPECT_EQ(m.Answers.Item(1).TextData(), "y.test");
}

TEST(Parse, UnsignedThirtyTwoBitFieldsStayPositive) {
  const std::string soa = Packet()
                              .Raw(Labels("ns1.example")).Raw(Labels("hostmaster.example"))
                              .U32(4294967295u).U32(2147483648u).U32(7200).U32(1209600).U32(300)
                              .bytes();
  const CDNSMessage m = Parsed(Packet().Header(1, 0x8183, 0, 0, 1, 0).Record(Labels("example"), 6, 4294967295u, soa).bytes());
  ASSERT_EQ(m.Authorities.Count(), 1);
  const CDNSResourceRecord& record = m.Authorities.Item(1);
  EXPECT_EQ(record.TTL, 4294967295u);
  const CDnsSoaData* data = record.SoaData();
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(data->MName, "ns1.example");
  EXPECT_EQ(data->RName, "hostmaster.example");
  EXPECT_EQ(data->Serial, 4294967295u);
  EXPECT_EQ(data->Refresh, 2147483648u);
  EXPECT_EQ(data->Retry, 7200u);
  EXPECT_EQ(data->Expire, 1209600u);
  EXPECT_EQ(data->Minimum, 300u);
}

TEST(Parse, QuestionNamesDoNotFollowPointers) {
  // In a question, C0 is a label length: the label runs to the end.
  const std::string bytes = Packet().Header(1, 0x8180, 1, 0, 0, 0).U8(0xC0).Raw(std::string(0xC0, 'q')).U8(0).U16(15).U16(1).bytes();
  const CDNSMessage m = Parsed(bytes);
  ASSERT_EQ(m.Questions.Count(), 1);
  EXPECT_EQ(m.Questions.Item(1).QuestionName, std::string(0xC0, 'q'));
}

TEST(GetLabelsByPosition, FollowsPointersAndMovesPastWhatIsStoredHere) {
  // 0: "example.com"; 13: "www" + pointer to 0; 19: pointer to 13; 21: root.
  const std::string data = Labels("example.com") + "\x03www" + Pointer(0) + Pointer(13) + std::string(1, '\0');
  struct Case {
    int start;
    std::string name;
    int after;
  };
  const Case cases[] = {{0, "example.com", 13}, {8, "com", 13}, {13, "www.example.com", 19}, {19, "www.example.com", 21}, {21, "", 22}};
  for (const Case& c : cases) {
    int position = c.start;
    EXPECT_EQ(GetLabelsByPosition(data, position), c.name) << "at " << c.start;
    EXPECT_EQ(position, c.after) << "at " << c.start;
  }
}

}  // namespace
}  // namespace mxfinder
