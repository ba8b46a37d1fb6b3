#include "spool/message_format.h"

#include <cstdint>
#include <limits>

#include "base/runtime_error.h"

namespace dorvane {
namespace {

constexpr uint16_t kLongText = 0xFFFF;  // escape: a 32-bit length follows
constexpr uint32_t kMaxListElements = 256;  // element 0 and 255 recipients

void PutU16(std::string& out, uint16_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>(v >> 8);
}

void PutU32(std::string& out, uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) out += static_cast<char>((v >> shift) & 0xFF);
}

void PutText(std::string& out, std::string_view text) {
  if (text.size() < kLongText) {
    PutU16(out, static_cast<uint16_t>(text.size()));
  } else {
    if (text.size() > std::numeric_limits<uint32_t>::max())
      Raise(kErrOverflow, "CLS:CMessage[MWrite]", ErrorDescription(kErrOverflow));
    PutU16(out, kLongText);
    PutU32(out, static_cast<uint32_t>(text.size()));
  }
  out.append(text);
}

// Reads fields from the front of a byte string; every read checks what is
// left, and the first failure sticks so callers test once at the end.
class Reader {
 public:
  explicit Reader(std::string_view bytes) : bytes_(bytes) {}

  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }
  bool AtEnd() const { return pos_ == bytes_.size(); }
  size_t pos() const { return pos_; }

  void Fail(const std::string& what) {
    if (error_.empty()) error_ = what + " at byte " + std::to_string(pos_);
  }

  uint32_t Uint(int width, const char* what) {
    if (!ok()) return 0;
    if (bytes_.size() - pos_ < static_cast<size_t>(width)) {
      Fail(std::string("truncated ") + what);
      return 0;
    }
    uint32_t v = 0;
    for (int i = 0; i < width; ++i)
      v |= static_cast<uint32_t>(static_cast<unsigned char>(bytes_[pos_ + i])) << (8 * i);
    pos_ += width;
    return v;
  }

  std::string Text(const char* what) {
    uint32_t n = Uint(2, what);
    if (n == kLongText) n = Uint(4, what);
    if (!ok()) return {};
    if (bytes_.size() - pos_ < n) {
      Fail(std::string("truncated ") + what);
      return {};
    }
    std::string text(bytes_.substr(pos_, n));
    pos_ += n;
    return text;
  }

 private:
  std::string_view bytes_;
  size_t pos_ = 0;
  std::string error_;
};

std::vector<std::string> ReadRcptList(Reader& in) {
  uint32_t dims = in.Uint(2, "recipient list header");
  uint32_t count = in.Uint(4, "recipient list header");
  uint32_t lower = in.Uint(4, "recipient list header");
  if (!in.ok()) return {};
  if (dims != 1 || lower != 0 || count == 0 || count > kMaxListElements) {
    in.Fail("bad recipient list header");
    return {};
  }
  std::vector<std::string> list;
  list.reserve(count);
  for (uint32_t i = 0; i < count && in.ok(); ++i) list.push_back(in.Text("recipient"));
  return list;
}

}  // namespace

std::string EncodeMessage(const CMessage& m) {
  std::string out;
  size_t rcpt_bytes = 0;
  for (const auto& r : m.RcptToList()) rcpt_bytes += r.size() + 6;
  out.reserve(m.ID.size() + m.TxtEng.size() + m.TxtFr.size() + m.LastError.size() +
              m.From.size() + m.Data.size() + rcpt_bytes + 64);
  PutText(out, m.ID);
  PutText(out, m.TxtEng);
  PutText(out, m.TxtFr);
  out += static_cast<char>(m.Essai);
  PutText(out, m.LastError);
  PutU16(out, m.ForSender ? 0xFFFF : 0x0000);
  PutText(out, m.From);
  PutU16(out, 1);
  PutU32(out, static_cast<uint32_t>(m.RcptToList().size()));
  PutU32(out, 0);
  for (const auto& r : m.RcptToList()) PutText(out, r);
  PutText(out, m.Data);
  return out;
}

std::optional<CMessage> DecodeMessage(std::string_view bytes, std::string* error) {
  Reader in(bytes);
  CMessage m;
  m.ID = in.Text("ID");
  m.TxtEng = in.Text("TxtEng");
  m.TxtFr = in.Text("TxtFr");
  m.Essai = static_cast<uint8_t>(in.Uint(1, "Essai"));
  m.LastError = in.Text("LastError");
  m.ForSender = in.Uint(2, "ForSender") != 0;
  m.From = in.Text("From");
  std::vector<std::string> rcpt = ReadRcptList(in);
  m.Data = in.Text("Data");
  if (in.ok() && !in.AtEnd()) in.Fail("trailing bytes");
  if (!in.ok()) {
    if (error) *error = in.error();
    return std::nullopt;
  }
  m.SetRcptToList(std::move(rcpt));
  return m;
}

}  // namespace dorvane
