#include "service/inbound_text.h"

#include <algorithm>
#include <cctype>

#include "base/program.h"

namespace dorvane {
namespace {

// The site host named in the greeting.
const char kSiteHost[] = "dorvane.example";

bool EndsWith(std::string_view text, std::string_view end) {
  return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

}  // namespace

const char kTooManyReply[] = "421 Too many connections, try again later\r\n";
const char kTooManyLogLine[] = " Dorvane/smtplocal: 421 Too many connections";

bool RelayAllowed(const std::string& remote_ip, const std::string& local_ip, bool relay) {
  if (remote_ip == "127.0.0.1") return true;
  if (relay && remote_ip.compare(0, 8, "192.168.") == 0) return true;
  return !remote_ip.empty() && remote_ip == local_ip;
}

bool IsValidAddress(const std::string& address) {
  if (address.size() < 2 || address.front() != '<' || address.back() != '>') return false;
  std::string_view inner(address.data() + 1, address.size() - 2);
  if (inner.find_first_of("<>") != std::string_view::npos) return false;
  size_t at = inner.find('@');
  if (at == std::string_view::npos || inner.find('@', at + 1) != std::string_view::npos)
    return false;
  return inner.find('.', at + 1) != std::string_view::npos;
}

std::string GreetingText(const std::string& local_ip) {
  return "220 Server Dorvane " + VersionText() + " on " + local_ip + " Ready (" + kSiteHost +
         ")\r\n";
}

std::string FirstLine(std::string_view unit) {
  return std::string(unit.substr(0, unit.find("\r\n")));
}

bool ArgumentAfter(std::string_view unit, std::string_view marker, std::string* argument) {
  std::string line = FirstLine(unit);
  std::transform(line.begin(), line.end(), line.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  size_t at = line.find(marker);
  if (at == std::string::npos) return false;
  *argument = line.substr(at + marker.size());
  return true;
}

bool HasControlByte(std::string_view line) {
  if (EndsWith(line, "\r\n")) line.remove_suffix(2);
  return std::any_of(line.begin(), line.end(), [](char c) {
    auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
  });
}

size_t TextScan::Feed(std::string_view piece) {
  for (size_t i = 0; i < piece.size(); ++i) {
    char c = piece[i];
    if (pending_cr_) {
      pending_cr_ = false;
      if (c == '\n') {
        if (line_ == Line::kDot) return i + 1;
        line_ = Line::kStart;
        continue;
      }
      bare_ = true;  // a CR not followed by LF
      line_ = Line::kOther;
    }
    if (c == '\r') {
      pending_cr_ = true;
      continue;
    }
    if (c == '\n') bare_ = true;
    line_ = (line_ == Line::kStart && c == '.') ? Line::kDot : Line::kOther;
  }
  return std::string_view::npos;
}

}  // namespace dorvane
