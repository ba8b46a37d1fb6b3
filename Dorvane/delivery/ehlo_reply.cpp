#include "delivery/ehlo_reply.h"

#include <cstdint>

namespace dorvane {
namespace {

// Longer keyword lines are no extension the client knows.
constexpr size_t kMaxKeywordLine = 128;

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// The words of one keyword line (after "250-"), upper case, split at
// blanks and '='.
void ReadLine(const std::string& line, EhloCapabilities& caps) {
  std::string words[8];
  size_t count = 0;
  for (char c : line) {
    if (c == ' ' || c == '=' || c == '\t') {
      if (!words[count].empty() && ++count == std::size(words)) break;
      continue;
    }
    if (c == '\r') break;
    words[count] += Upper(c);
  }
  if (words[0] == "STARTTLS") caps.starttls = true;
  if (words[0] == "PIPELINING") caps.pipelining = true;
  if (words[0] != "AUTH") return;
  for (const std::string& word : words) {
    if (word == "PLAIN") caps.auth_plain = true;
    if (word == "LOGIN") caps.auth_login = true;
  }
}

}  // namespace

EhloCapabilities ReadCapabilities(const std::string& reply) {
  EhloCapabilities caps;
  size_t start = reply.find('\n');  // the first line names the server
  for (size_t n = 1; n < kMaxEhloLines && start != std::string::npos && start + 1 < reply.size(); ++n) {
    const size_t begin = start + 1;
    start = reply.find('\n', begin);
    const size_t end = start == std::string::npos ? reply.size() : start;
    if (end - begin < 4 || end - begin > kMaxKeywordLine) continue;
    ReadLine(reply.substr(begin + 4, end - begin - 4), caps);
  }
  return caps;
}

std::string Base64(const std::string& bytes) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (size_t k = 0; k < bytes.size(); k += 3) {
    const size_t left = bytes.size() - k;
    uint32_t group = static_cast<uint8_t>(bytes[k]) << 16;
    if (left > 1) group |= static_cast<uint8_t>(bytes[k + 1]) << 8;
    if (left > 2) group |= static_cast<uint8_t>(bytes[k + 2]);
    out += kDigits[(group >> 18) & 63];
    out += kDigits[(group >> 12) & 63];
    out += left > 1 ? kDigits[(group >> 6) & 63] : '=';
    out += left > 2 ? kDigits[group & 63] : '=';
  }
  return out;
}

}  // namespace dorvane
