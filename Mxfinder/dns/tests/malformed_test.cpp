// Hostile and broken datagrams: each must end in a ComponentError (or a clean
// result), never in a crash, a read outside the data or an endless loop. Run
// under AddressSanitizer (-DDORVANE_SANITIZE=ON) to see the reads checked.
#include <gtest/gtest.h>

#include <string>

#include "dns/dns_message.h"
#include "dns/dns_support.h"
#include "dns_packet_support.h"
#include "resolver/answer.h"

namespace mxfinder {
namespace {

using testing::FailureOf;
using testing::GoodMxAnswer;
using testing::Labels;
using testing::MxRData;
using testing::Packet;
using testing::Pointer;

constexpr const char* kParse = "CDnsMessage.Parse";
constexpr const char* kLabels = "MDnsSupport.GetLabelsByPosition";
constexpr const char* kMx = "CDnsMxData.CreateFromStream";

// A header for a response with `an` answers and nothing else.
Packet Answers(uint16_t an) { return Packet().Header(7, 0x8180, 0, an, 0, 0); }

TEST(ParseMalformed, BadDatagramsFailWithTheirError) {
  struct Case {
    const char* what;
    std::string bytes;
    long number;
    const char* source;
  };
  const Case cases[] = {
      {"empty datagram", "", 9, kParse},
      {"11 bytes of header", std::string(11, '\0'), 9, kParse},
      {"question announced, none there", Packet().Header(7, 0x8180, 1, 0, 0, 0).bytes(), 9, kParse},
      {"three answers announced, one there",
       Answers(3).Record(Labels("a"), 1, 1, std::string(4, '\1')).bytes(), 9, kLabels},
      {"owner pointer to itself (offset 12 -> 12)", Answers(1).Raw(Pointer(12)).bytes(), 9, kLabels},
      {"owner pointer forward (12 -> 14, which points back to 12)",
       Answers(1).Raw(Pointer(14)).Raw(Pointer(12)).bytes(), 9, kLabels},
      // 12: a label of 9 bytes, then at 22 a pointer back to 12.
      {"pointer back to the start of its own name",
       Answers(1).U8(9).Raw(std::string(9, 'x')).Raw(Pointer(12)).bytes(), 9, kLabels},
      {"pointer beyond the data", Answers(1).Raw(Pointer(0x3FFF)).bytes(), 9, kLabels},
      {"pointer missing its second byte", Answers(1).U8(0xC0).bytes(), 9, kLabels},
      {"label of 63 with 3 bytes left", Answers(1).U8(63).Raw("abc").bytes(), 9, kLabels},
      {"RDLENGTH past the end", Answers(1).Raw(Labels("a")).U16(99).U16(1).U32(0).U16(10).Raw("abc").bytes(), 9,
       kParse},
      {"A record of 2 bytes", Answers(1).Record(Labels("a"), 1, 1, "\x01\x02").Raw("\x03\x04").bytes(), 9, kParse},
      {"MX exchange running past RDLENGTH",
       Answers(1).Raw(Labels("a")).U16(15).U16(1).U32(0).U16(4).Raw(MxRData(5, Labels("mx.a"))).bytes(), 9, kParse},
      {"MX exchange with a forward pointer",
       Answers(1).Record(Labels("a"), 15, 1, MxRData(5, Pointer(40))).Raw(std::string(20, '\0')).bytes(), 9, kMx},
  };
  for (const Case& c : cases) {
    CDNSMessage message;
    const auto failure = FailureOf([&] { message.Parse(c.bytes); });
    EXPECT_EQ(failure.number, c.number) << c.what;
    EXPECT_EQ(failure.source, c.source) << c.what;
  }
}

TEST(ParseMalformed, PositionsBeyond32767Overflow) {
  // A record of an undecoded type whose RDATA (all present) ends past 32767.
  const std::string bytes = Answers(2).Record(Labels("a"), 99, 1, std::string(33000, '\0')).Raw(Labels("b")).bytes();
  CDNSMessage message;
  EXPECT_EQ(FailureOf([&] { message.Parse(bytes); }).number, 6);
}

TEST(ParseMalformed, EveryTruncatedPrefixOfAGoodAnswerFails) {
  const std::string soa = Labels("ns.example") + Labels("admin.example") + std::string(20, '\x7F');
  const std::string answers[] = {
      GoodMxAnswer(),
      Packet().Header(9, 0x8183, 1, 0, 1, 0).Question("gone.example", 15, 1).Record(Pointer(12), 6, 60, soa).bytes(),
  };
  for (const std::string& answer : answers) {
    ASSERT_EQ(FailureOf([&] { CDNSMessage().Parse(answer); }).number, 0);
    for (std::size_t n = 0; n < answer.size(); ++n) {
      CDNSMessage message;
      EXPECT_EQ(FailureOf([&] { message.Parse(answer.substr(0, n)); }).number, 9) << "prefix of " << n << " bytes";
    }
  }
}

TEST(ParseMalformed, CorruptedBytesGiveAnErrorOrAResult) {
  const std::string good = GoodMxAnswer();
  for (std::size_t i = 0; i < good.size(); ++i) {
    for (char value : {'\x00', '\x3F', '\xC0', '\xC1', '\xFF'}) {
      std::string bytes = good;
      bytes[i] = value;
      CDNSMessage message;
      const auto failure = FailureOf([&] { message.Parse(bytes); });
      EXPECT_TRUE(failure.number == 0 || failure.number == 9) << "byte " << i << " set to " << int(value & 0xFF)
                                                               << ": error " << failure.number;
    }
  }
}

TEST(GetLabelsByPositionMalformed, PointerChainsAreCutAfterAFixedDepth) {
  // 0: "a"; then pointers, each to the one before it.
  auto chain = [](int pointers) {
    std::string data = Labels("a");
    int previous = 0;
    for (int i = 0; i < pointers; ++i) {
      const int here = static_cast<int>(data.size());
      data += Pointer(previous);
      previous = here;
    }
    return std::pair(data, previous);
  };
  auto [ok_data, ok_start] = chain(kMaxCompressionHops);
  EXPECT_EQ(GetLabelsByPosition(ok_data, ok_start), "a");
  auto [long_data, long_start] = chain(kMaxCompressionHops + 1);
  const auto failure = FailureOf([&] { GetLabelsByPosition(long_data, long_start); });
  EXPECT_EQ(failure.number, 9);
  EXPECT_EQ(failure.source, kLabels);
}

TEST(GetLabelsByPositionMalformed, PointerIntoTheLabelsThatLedToItFails) {
  // 0: a label of 9 bytes that swallows the pointer at 8; 10: pointer to 0.
  // From 8: 8 -> 0 -> label -> 10 -> 0 -> ... Each pointer points backwards
  // from where it sits, yet following them would never end.
  const std::string data = "\x09" + std::string(7, 'x') + Pointer(0) + Pointer(0);
  int position = 8;
  EXPECT_EQ(FailureOf([&] { GetLabelsByPosition(data, position); }).number, 9);
}

TEST(GetLabelsByPositionMalformed, NamesPastTheLimitAreCutJustBeyondIt) {
  const std::string label63(63, 'a');
  const std::string name255 = label63 + "." + label63 + "." + label63 + "." + label63;
  const struct {
    const char* what;
    std::string wire;
    std::size_t size;
  } cases[] = {
      {"255 bytes", Labels(name255), 255},
      {"256 bytes", Labels("b" + name255), kMaxNameLength + 1},
      {"two more labels after the limit", Labels(name255 + ".bb.cc"), kMaxNameLength + 1},
      {"a pointer after the limit", Labels(name255 + ".b").substr(0, 258) + Pointer(0), kMaxNameLength + 1},
  };
  for (const auto& c : cases) {
    // A short name first, so the pointer case points back to a name.
    const std::string data = Labels("x") + c.wire + "\x7F";
    int position = 3;
    EXPECT_EQ(GetLabelsByPosition(data, position).size(), c.size) << c.what;
    EXPECT_EQ(position, static_cast<int>(data.size()) - 1) << c.what << ": the byte after the name is next";
  }
}

// One record of an undecoded type carries a chain of segments, each a label
// of 63 bytes and a pointer to the segment before: a name of 8 KB. Hundreds
// of MX records point at its end. Their names stay bounded, and the honest
// record after them is read and kept.
TEST(ParseMalformed, NamesBuiltFromPointerChainsStayBoundedAndAreLeftOut) {
  constexpr int kSegments = 120, kHostile = 400;
  const int rdata_at = 12 + 1 + 10;  // header, root owner, record fields
  std::string chain = Labels(std::string(63, 'a'));
  int last = rdata_at;
  for (int i = 1; i < kSegments; ++i) {
    const int here = rdata_at + static_cast<int>(chain.size());
    chain += '\x3F' + std::string(63, 'a') + Pointer(last);
    last = here;
  }
  Packet p;
  p.Header(7, 0x8180, 0, kHostile + 2, 0, 0).Record(Labels(""), 99, 60, chain);
  for (int i = 0; i < kHostile; ++i) p.Record(Labels(""), 15, 60, MxRData(5, Pointer(last)));
  p.Record(Labels(""), 15, 60, MxRData(10, Labels("mx.example.test")));
  ASSERT_GT(p.size(), 13000);

  CDNSMessage message;
  ASSERT_EQ(FailureOf([&] { message.Parse(p.bytes()); }).number, 0);
  ASSERT_EQ(message.Answers.Count(), kHostile + 2);
  std::size_t longest = 0;
  for (const CDNSResourceRecord& record : message.Answers) {
    if (const CDnsMxData* mx = record.MxData()) longest = std::max(longest, mx->Exchange.size());
  }
  EXPECT_EQ(longest, kMaxNameLength + 1);
  EXPECT_EQ(MxRecordText(message.Answers), "10\xC2\xA4mx.example.test\xC2\xA4" "60|");
}

}  // namespace
}  // namespace mxfinder
