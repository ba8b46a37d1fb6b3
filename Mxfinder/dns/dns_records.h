// The parts of a DNS message: header, questions, resource records and the
// typed data of MX and SOA records. Plain values; the codec that reads and
// writes them is CDNSMessage (dns_message.h).
//
// 16-bit wire fields are held in int32_t so that out-of-range values can be
// refused when composing; 32-bit wire fields are uint32_t.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>

#include "dns/keyed_collection.h"

namespace mxfinder {

// The 12-byte header.
struct CDnsHeader {
  int32_t MessageID = 0;
  bool IsQuery = false;     // QR bit 0
  bool IsResponse = false;  // QR bit 1
  int16_t OPCode = 0;       // 0 standard query, 1 inverse, 2 status
  bool AuthoritativeAnswer = false;
  bool IsTruncated = false;
  bool RecursionDesired = false;
  bool RecursionAvailable = false;
  int16_t ZReserved = 0;  // never written or decoded
  int16_t ResponseCode = 0;
  int32_t QDCount = 0;
  int32_t ANCount = 0;
  int32_t NSCount = 0;
  int32_t ARCount = 0;
};

struct CDnsQuestion {
  std::string QuestionName;  // labels joined with "."
  int32_t QuestionType = 0;
  int32_t QuestionClass = 0;
};

// The data of an MX record.
struct CDnsMxData {
  int32_t Preference = 0;
  std::string Exchange;

  // Reads the preference (2 bytes) and the exchanger's name (compression
  // followed) at `position` of the message `data`, moving `position` past
  // them. Returns true. Errors as GetLabelsByPosition, with the source
  // "CDnsMxData.CreateFromStream".
  bool CreateFromStream(const std::string& data, int& position);
};

// The data of an SOA record.
struct CDnsSoaData {
  std::string MName;
  std::string RName;
  uint32_t Serial = 0;
  uint32_t Refresh = 0;
  uint32_t Retry = 0;
  uint32_t Expire = 0;
  uint32_t Minimum = 0;

  // Reads MNAME, RNAME and the five 32-bit values at `position` of `data`,
  // moving `position` past them. Returns true. Errors as
  // GetLabelsByPosition, with the source "CDnsSoaData.CreateFromStream".
  bool CreateFromStream(const std::string& data, int& position);
};

// The decoded RDATA of a record: nothing (types the codec does not decode),
// a text (A: dotted address; NS, CNAME, MB, MG, MR, PTR: a domain name), or
// shared MX or SOA data.
using CDnsRData =
    std::variant<std::monostate, std::string, std::shared_ptr<CDnsMxData>, std::shared_ptr<CDnsSoaData>>;

struct CDNSResourceRecord {
  std::string RName;
  int32_t RType = 0;
  int32_t RClass = 0;
  uint32_t TTL = 0;
  int32_t RDLength = 0;
  CDnsRData RData;

  // The MX data, or nullptr when RData holds none.
  const CDnsMxData* MxData() const;
  // The SOA data, or nullptr when RData holds none.
  const CDnsSoaData* SoaData() const;
  // The text of RData, or "" when RData holds no text.
  std::string TextData() const;
};

class CDnsQuestions : public KeyedCollection<CDnsQuestion> {
 public:
  CDnsQuestions() : KeyedCollection("CDnsQuestions") {}
  // Appends a new question under `key` (no key when empty) and returns it.
  CDnsQuestion& Add(const std::string& question_name, int32_t question_type, int32_t question_class,
                    const std::string& key = "");
};

class CDNSResourceRecords : public KeyedCollection<CDNSResourceRecord> {
 public:
  CDNSResourceRecords() : KeyedCollection("CDnsResourceRecords") {}
  // Appends a new record under `key` (no key when empty) and returns it.
  CDNSResourceRecord& Add(const std::string& rname, int32_t rtype, int32_t rclass, uint32_t ttl,
                          int32_t rdlength, CDnsRData rdata, const std::string& key = "");
};
using CDnsResourceRecords = CDNSResourceRecords;

}  // namespace mxfinder
