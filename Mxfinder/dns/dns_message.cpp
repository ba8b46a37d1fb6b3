#include "dns/dns_message.h"

#include <cstddef>
#include <vector>

#include "dns/byte_reader.h"
#include "dns/dns_support.h"

namespace mxfinder {

namespace {

constexpr const char* kComposeSource = "CDnsMessage.ComposeQuery";
constexpr const char* kParseSource = "CDnsMessage.Parse";
constexpr std::size_t kHeaderSize = 12;
// The query must stay addressable by 16-bit signed positions once its
// terminating zero, QTYPE and QCLASS are added.
constexpr std::size_t kMaxQueryLength = 32763;
constexpr std::size_t kMaxLabelLength = 255;

enum RecordType : int32_t {
  kTypeA = 1, kTypeNS = 2, kTypeCNAME = 5, kTypeSOA = 6, kTypeMB = 7,
  kTypeMG = 8, kTypeMR = 9, kTypePTR = 12, kTypeMX = 15,
};

// The labels of `name`. "" is the root (no label); one trailing "." only
// marks the name as absolute and adds no label.
std::vector<std::string> SplitLabels(std::string name) {
  std::vector<std::string> labels;
  if (!name.empty() && name.back() == '.') name.pop_back();
  if (name.empty()) return labels;
  std::size_t start = 0;
  for (std::size_t dot; (dot = name.find('.', start)) != std::string::npos; start = dot + 1) {
    labels.push_back(name.substr(start, dot - start));
  }
  labels.push_back(name.substr(start));
  return labels;
}

void PutU16(std::string& out, int32_t value) {
  if (value < 0 || value > 0xFFFF) RaiseDnsError(kDnsErrOverflow, kComposeSource);
  out += static_cast<char>(value >> 8);
  out += static_cast<char>(value & 0xFF);
}

uint8_t FlagsByte(const CDnsHeader& header) {
  uint8_t flags = 0;
  if (header.OPCode == 1) flags |= 0x08;
  if (header.OPCode == 2) flags |= 0x10;
  if (header.RecursionDesired) flags |= 0x01;
  return flags;
}

void ReadHeader(ByteReader& in, CDnsHeader& header) {
  header.MessageID = in.ReadU16();
  const uint8_t flags = in.ReadU8();
  header.IsResponse = (flags & 0x80) != 0;
  header.IsQuery = !header.IsResponse;
  header.OPCode = static_cast<int16_t>(flags >> 3 & 0x0F);
  header.AuthoritativeAnswer = (flags & 0x04) != 0;
  header.IsTruncated = (flags & 0x02) != 0;
  header.RecursionDesired = (flags & 0x01) != 0;
  const uint8_t status = in.ReadU8();
  header.RecursionAvailable = (status & 0x80) != 0;
  header.ResponseCode = static_cast<int16_t>(status & 0x0F);
  header.QDCount = in.ReadU16();
  header.ANCount = in.ReadU16();
  header.NSCount = in.ReadU16();
  header.ARCount = in.ReadU16();
}

// Decodes the RDATA of a record of `type` at `position`, moving `position`
// to where decoding stopped (not moved for types without decoding).
CDnsRData ReadRData(const std::string& data, int& position, int32_t type) {
  switch (type) {
    case kTypeA: {
      ByteReader in(data, position, kParseSource);
      std::string address;
      for (int i = 0; i < 4; ++i) address += (i ? "." : "") + std::to_string(in.ReadU8());
      position = in.position();
      return address;
    }
    case kTypeNS: case kTypeCNAME: case kTypeMB: case kTypeMG: case kTypeMR: case kTypePTR:
      return GetLabelsByPosition(data, position);
    case kTypeSOA: {
      auto soa = std::make_shared<CDnsSoaData>();
      soa->CreateFromStream(data, position);
      return soa;
    }
    case kTypeMX: {
      auto mx = std::make_shared<CDnsMxData>();
      mx->CreateFromStream(data, position);
      return mx;
    }
    default:
      return std::monostate{};
  }
}

// Reads one resource record at `position` into `section`.
void ReadRecord(const std::string& data, int& position, CDNSResourceRecords& section) {
  const std::string rname = GetLabelsByPosition(data, position);
  ByteReader in(data, position, kParseSource);
  const int32_t type = in.ReadU16();
  const int32_t rclass = in.ReadU16();
  const uint32_t ttl = in.ReadU32();
  const int32_t rdlength = in.ReadU16();
  const int rdata_start = in.position();
  in.Skip(rdlength);  // the whole RDATA must be there
  int rdata_pos = rdata_start;
  CDnsRData rdata = ReadRData(data, rdata_pos, type);
  // Decoded data that runs past RDLENGTH belongs to a broken record; taking
  // it would shift every record after it.
  if (rdata_pos > in.position()) RaiseDnsError(kDnsErrSubscript, kParseSource);
  position = in.position();
  section.Add(rname, type, rclass, ttl, rdlength, std::move(rdata));
}

void ReadRecords(const std::string& data, int& position, int count, CDNSResourceRecords& section) {
  for (int i = 0; i < count; ++i) ReadRecord(data, position, section);
}

}  // namespace

bool CDNSMessage::ComposeQuery(std::string& query_stream) const {
  return WithErrorSource(kComposeSource, [&] {
    const CDnsQuestion& question = Questions.Item(1);
    const std::vector<std::string> labels = SplitLabels(question.QuestionName);
    std::size_t length = kHeaderSize;
    for (const std::string& label : labels) length += label.size() + 1;
    if (length >= kMaxQueryLength) RaiseDnsError(kDnsErrOverflow, kComposeSource);

    std::string out;
    out.reserve(length + 5);
    PutU16(out, Header.MessageID);
    out += static_cast<char>(FlagsByte(Header));
    out += '\0';
    for (int32_t count : {1, 0, 0, 0}) PutU16(out, count);
    for (const std::string& label : labels) {
      if (label.size() > kMaxLabelLength) RaiseDnsError(kDnsErrOverflow, kComposeSource);
      out += static_cast<char>(label.size());
      out += label;
    }
    out += '\0';
    PutU16(out, question.QuestionType);
    PutU16(out, question.QuestionClass);
    query_stream = std::move(out);
    return true;
  });
}

bool CDNSMessage::Parse(const std::string& stream_data) {
  Header = CDnsHeader();
  ByteReader in(stream_data, 0, kParseSource);
  ReadHeader(in, Header);

  Questions = CDnsQuestions();
  int position = in.position();
  for (int i = 0; i < Header.QDCount; ++i) {
    const std::string name = ReadPlainName(stream_data, position, kParseSource);
    ByteReader fields(stream_data, position, kParseSource);
    const int32_t type = fields.ReadU16();
    const int32_t qclass = fields.ReadU16();
    position = fields.position();
    Questions.Add(name, type, qclass);
  }

  Answers = CDNSResourceRecords();
  Authorities = CDNSResourceRecords();
  AdditionalInfos = CDNSResourceRecords();
  ReadRecords(stream_data, position, Header.ANCount, Answers);
  ReadRecords(stream_data, position, Header.NSCount, Authorities);
  ReadRecords(stream_data, position, Header.ARCount, AdditionalInfos);
  return true;
}

}  // namespace mxfinder
