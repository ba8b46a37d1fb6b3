#include "dns/dns_records.h"

#include <utility>

#include "dns/byte_reader.h"
#include "dns/dns_support.h"

namespace mxfinder {

bool CDnsMxData::CreateFromStream(const std::string& data, int& position) {
  static constexpr const char* kSource = "CDnsMxData.CreateFromStream";
  return WithErrorSource(kSource, [&] {
    ByteReader in(data, position, kSource);
    Preference = in.ReadU16();
    position = in.position();
    Exchange = GetLabelsByPosition(data, position);
    return true;
  });
}

bool CDnsSoaData::CreateFromStream(const std::string& data, int& position) {
  static constexpr const char* kSource = "CDnsSoaData.CreateFromStream";
  return WithErrorSource(kSource, [&] {
    MName = GetLabelsByPosition(data, position);
    RName = GetLabelsByPosition(data, position);
    ByteReader in(data, position, kSource);
    Serial = in.ReadU32();
    Refresh = in.ReadU32();
    Retry = in.ReadU32();
    Expire = in.ReadU32();
    Minimum = in.ReadU32();
    position = in.position();
    return true;
  });
}

const CDnsMxData* CDNSResourceRecord::MxData() const {
  const auto* mx = std::get_if<std::shared_ptr<CDnsMxData>>(&RData);
  return mx ? mx->get() : nullptr;
}

const CDnsSoaData* CDNSResourceRecord::SoaData() const {
  const auto* soa = std::get_if<std::shared_ptr<CDnsSoaData>>(&RData);
  return soa ? soa->get() : nullptr;
}

std::string CDNSResourceRecord::TextData() const {
  const auto* text = std::get_if<std::string>(&RData);
  return text ? *text : std::string();
}

CDnsQuestion& CDnsQuestions::Add(const std::string& question_name, int32_t question_type, int32_t question_class,
                                 const std::string& key) {
  return Append(CDnsQuestion{question_name, question_type, question_class}, key);
}

CDNSResourceRecord& CDNSResourceRecords::Add(const std::string& rname, int32_t rtype, int32_t rclass, uint32_t ttl,
                                             int32_t rdlength, CDnsRData rdata, const std::string& key) {
  return Append(CDNSResourceRecord{rname, rtype, rclass, ttl, rdlength, std::move(rdata)}, key);
}

}  // namespace mxfinder
