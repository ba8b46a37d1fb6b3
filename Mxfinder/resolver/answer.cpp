#include "resolver/answer.h"

#include <algorithm>
#include <vector>

#include "dns/dns_support.h"

namespace mxfinder {
namespace {

constexpr int kDnsPort = 53;
constexpr int32_t kTypeMx = 15;
constexpr int32_t kClassIn = 1;
const char kFieldSeparator[] = "\xC2\xA4";  // ¤ in UTF-8

bool SameName(std::string a, std::string b) {
  auto lower = [](std::string& s) {
    if (!s.empty() && s.back() == '.') s.pop_back();
    for (char& c : s) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
  };
  lower(a);
  lower(b);
  return a == b;
}

}  // namespace

std::string ReverseMappingName(const std::string& name) {
  std::vector<std::string> octets;
  std::size_t start = 0;
  while (octets.size() < 5) {
    std::size_t dot = name.find('.', start);
    std::string part = name.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    if (part.empty() || part.size() > 3 || part.find_first_not_of("0123456789") != std::string::npos) return "";
    if (std::stoi(part) > 255) return "";
    octets.push_back(std::to_string(std::stoi(part)));
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  if (octets.size() != 4) return "";
  std::reverse(octets.begin(), octets.end());
  return octets[0] + "." + octets[1] + "." + octets[2] + "." + octets[3] + ".IN-ADDR.ARPA";
}

bool IsAnswer(const ExpectedAnswer& query, const std::string& from_ip, int from_port,
              const CDNSMessage& reply) {
  if (from_ip != query.server_ip || from_port != kDnsPort) return false;
  if (!reply.Header.IsResponse || reply.Header.MessageID != query.message_id) return false;
  if (reply.Questions.Count() != 1) return false;
  const CDnsQuestion& question = reply.Questions.Item(1);
  return question.QuestionType == kTypeMx && question.QuestionClass == kClassIn &&
         SameName(question.QuestionName, query.question_name);
}

bool IsSafeName(const std::string& name) {
  if (name.size() > kMaxNameLength) return false;
  for (char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || byte == '|' || byte == 0xA4) return false;
  }
  return true;
}

std::string MxRecordText(const CDNSResourceRecords& answers) {
  std::string text;
  for (const CDNSResourceRecord& record : answers) {
    const CDnsMxData* mx = record.MxData();
    if (record.RType != kTypeMx || !mx || !IsSafeName(record.RName) || !IsSafeName(mx->Exchange)) continue;
    std::string one = std::to_string(mx->Preference) + kFieldSeparator + mx->Exchange + kFieldSeparator +
                      std::to_string(record.TTL) + "|";
    if (text.size() + one.size() > kMaxRecordText) break;
    text += one;
  }
  return text;
}

std::string ResolutionText(const CDNSMessage& reply) {
  std::string text = MxRecordText(reply.Answers);
  if (text.empty() && reply.Header.IsTruncated) return kDnsTimeoutText;
  return text;
}

}  // namespace mxfinder
