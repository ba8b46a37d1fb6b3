#include "delivery/server_reply.h"

namespace dorvane {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool HasCode(const std::string& text, size_t at) {
  return text.size() >= at + 3 && IsDigit(text[at]) && IsDigit(text[at + 1]) && IsDigit(text[at + 2]);
}

// A line that says more lines of the same reply follow.
bool IsContinuation(const std::string& bytes, size_t start, size_t end) {
  return end - start >= 4 && HasCode(bytes, start) && bytes[start + 3] == '-';
}

}  // namespace

void ReplyBuffer::Add(const std::string& bytes) { bytes_ += bytes; }

bool ReplyBuffer::Take(std::string* reply) {
  for (size_t start = 0;;) {
    size_t end = bytes_.find('\n', start);
    if (end == std::string::npos) break;
    if (!IsContinuation(bytes_, start, end)) {
      *reply = bytes_.substr(0, end + 1);
      bytes_.erase(0, end + 1);
      return true;
    }
    start = end + 1;
  }
  if (bytes_.size() <= kMaxReplyBytes) return false;
  reply->swap(bytes_);
  bytes_.clear();
  return true;
}

std::string ReplyCode(const std::string& reply) {
  size_t end = reply.size();
  while (end > 0 && (reply[end - 1] == '\n' || reply[end - 1] == '\r')) --end;
  size_t start = reply.rfind('\n', end == 0 ? 0 : end - 1);
  start = start == std::string::npos ? 0 : start + 1;
  return HasCode(reply, start) ? reply.substr(start, 3) : std::string();
}

std::string ReplyReason(const std::string& reply) {
  std::string reason;
  for (char c : reply.substr(0, reply.find('\n'))) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) continue;
    if (reason.size() == kMaxReasonBytes) break;
    reason += c;
  }
  return reason;
}

}  // namespace dorvane
