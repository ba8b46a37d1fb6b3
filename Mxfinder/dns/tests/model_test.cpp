#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dns/dns_message.h"
#include "dns_packet_support.h"

namespace mxfinder {
namespace {

using testing::FailureOf;

TEST(Collections, PositionsKeysOrderAndFailures) {
  CDNSResourceRecords records;
  records.Add("a", 1, 1, 0, 4, std::string("1.2.3.4"));
  records.Add("b", 15, 1, 60, 0, std::make_shared<CDnsMxData>(CDnsMxData{5, "mx.b"}), "mx");
  records.Add("c", 2, 1, 0, 0, std::monostate{});
  EXPECT_EQ(records.Item("mx").MxData()->Exchange, "mx.b");
  EXPECT_EQ(records.Item(1).MxData(), nullptr);
  records.Remove(1);
  std::vector<std::string> names;
  for (const CDNSResourceRecord& r : records) names.push_back(r.RName);
  EXPECT_EQ(names, (std::vector<std::string>{"b", "c"}));

  EXPECT_EQ(FailureOf([&] { records.Item(0); }).number, 9);
  EXPECT_EQ(FailureOf([&] { records.Remove(3); }).number, 9);
  EXPECT_EQ(FailureOf([&] { records.Item("MX"); }).number, 5);  // keys are case-sensitive
  EXPECT_EQ(FailureOf([&] { records.Add("d", 1, 1, 0, 0, {}, "mx"); }).number, 457);
  EXPECT_EQ(records.Count(), 2);
}

TEST(InfoTables, KnownAndUnknownValues) {
  using InfoFn = void (*)(long, std::string&, std::string&);
  struct Case {
    InfoFn info;
    long value;
    std::string expected;  // mnemonic "|" description, from "before|kept"
  };
  const Case cases[] = {
      {&CDNSMessage::GetTypeInfo, 15, "MX|Mail exchange"},
      {&CDNSMessage::GetTypeInfo, 255, "*|Request for all records"},
      {&CDNSMessage::GetTypeInfo, 28, "UNKNOWN|UNKNOWN"},
      {&CDNSMessage::GetClassInfo, 4, "HS|Hesiod [Varen 87]"},
      {&CDNSMessage::GetClassInfo, 255, "before|kept"},
      {&CDNSMessage::GetOPCodeInfo, 2, "STATUS|Server status request"},
      {&CDNSMessage::GetOPCodeInfo, 3, "Unknown|Unknown"},
  };
  for (const Case& c : cases) {
    std::string mnemonic = "before", description = "kept";
    c.info(c.value, mnemonic, description);
    EXPECT_EQ(mnemonic + "|" + description, c.expected) << "value " << c.value;
  }
  EXPECT_EQ(CDNSMessage::GetResponseCodeInfo(0), "No error condition");
  EXPECT_EQ(CDNSMessage::GetResponseCodeInfo(5), "Refused");
  EXPECT_EQ(CDNSMessage::GetResponseCodeInfo(6), "Unknown response");
  EXPECT_EQ(CDNSMessage::GetResponseCodeInfo(-1), "Unknown response");
}

}  // namespace
}  // namespace mxfinder
