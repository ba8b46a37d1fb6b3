#include "mx/mx_lookup.h"

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "mx/mxfinder_client.h"

namespace dorvane {
namespace {

const char kFieldSep[] = "\xC2\xA4";  // U+00A4
constexpr char kRecordEnd = '|';

std::vector<std::string> Split(const std::string& text, const std::string& sep) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t at; (at = text.find(sep, start)) != std::string::npos; start = at + sep.size())
    parts.push_back(text.substr(start, at - start));
  parts.push_back(text.substr(start));
  return parts;
}

// A decimal preference clamped to the range of Order, or false.
bool ParsePreference(const std::string& text, int16_t& order) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
  unsigned long long v = text.size() > 6 ? 32767 : std::strtoull(text.c_str(), nullptr, 10);
  order = static_cast<int16_t>(v > 32767 ? 32767 : v);
  return true;
}

double ParseTtl(const std::string& text) {
  char* end = nullptr;
  errno = 0;
  double v = std::strtod(text.c_str(), &end);
  return end == text.c_str() || *end != '\0' || errno == ERANGE ? 0 : v;
}

}  // namespace

const char kDnsTimeout[] = "ERROR_DNS_TIMEOUT";

MxLookup LibraryMxLookup() {
  auto library = std::make_shared<std::optional<MxfinderClient>>();
  return [library](std::string& domain, const std::string& server) {
    if (!*library) library->emplace();
    return (*library)->ResolveDnsQuery(domain, server);
  };
}

bool IsQueryableDomain(const std::string& domain) {
  std::string name = domain;
  if (!name.empty() && name.back() == '.') name.pop_back();
  if (name.empty() || name.size() > 253) return false;
  size_t label = 0;
  for (char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= ' ' || byte == 0x7F) return false;
    if (c != '.') {
      if (++label > 63) return false;
      continue;
    }
    if (label == 0) return false;
    label = 0;
  }
  return label > 0;
}

bool IsUsableHostName(const std::string& host) {
  if (host.empty() || host.size() > 255) return false;
  for (char c : host) {
    const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!alnum && c != '-' && c != '_' && c != '.') return false;
  }
  return true;
}

CMXServer ParseMxAnswer(const std::string& answer) {
  CMXServer hosts;
  size_t start = 0;
  for (size_t end; hosts.Count() < kMaxRouteHosts && start < answer.size(); start = end + 1) {
    end = answer.find(kRecordEnd, start);
    if (end == std::string::npos) end = answer.size();
    std::vector<std::string> fields = Split(answer.substr(start, end - start), kFieldSep);
    int16_t order;
    if (fields.size() != 3 || !ParsePreference(fields[0], order) || !IsUsableHostName(fields[1])) continue;
    hosts.Add(order, fields[1], "", ParseTtl(fields[2]));
  }
  return hosts;
}

}  // namespace dorvane
