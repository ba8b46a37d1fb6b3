#include "spool/queue_format.h"

#include <cstdio>

namespace dorvane {
namespace {

// The length of the valid UTF-8 sequence at `i` of `s` and its code point,
// or 0 when the bytes there begin none (overlong forms and surrogates
// included).
size_t Utf8At(std::string_view s, size_t i, char32_t* code) {
  const auto b = [&](size_t k) { return static_cast<unsigned char>(s[i + k]); };
  const unsigned char lead = b(0);
  if (lead < 0x80) return *code = lead, 1;
  size_t n = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 && lead < 0xE0 ? 2 : 0;
  if (n == 0 || i + n > s.size()) return 0;
  char32_t c = lead & (0x7F >> n);
  for (size_t k = 1; k < n; ++k) {
    if ((b(k) & 0xC0) != 0x80) return 0;
    c = (c << 6) | (b(k) & 0x3F);
  }
  static const char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  if (c < kLeast[n] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  return *code = c, n;
}

bool IsControl(char32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

std::string Hex(const char* format, unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// Calls `keep` with each valid printable sequence and `escape` with each
// other byte or control character of `s`.
template <typename Keep, typename Escape>
void WalkText(std::string_view s, Keep keep, Escape escape) {
  for (size_t i = 0; i < s.size();) {
    char32_t c = 0;
    size_t n = Utf8At(s, i, &c);
    if (n == 0) {
      escape(static_cast<unsigned char>(s[i])), ++i;
      continue;
    }
    if (IsControl(c)) escape(static_cast<unsigned>(c));
    else keep(s.substr(i, n));
    i += n;
  }
}

std::string Optional(const std::optional<std::time_t>& when) { return when ? IsoUtc(*when) : "-"; }

std::string JsonOptional(const std::optional<std::time_t>& when) {
  return when ? JsonString(IsoUtc(*when)) : "null";
}

std::string Joined(const std::vector<std::string>& items, const char* separator) {
  std::string out;
  for (const std::string& item : items) out += (out.empty() ? "" : separator) + item;
  return out;
}

std::string JsonObject(const QueueEntry& e) {
  std::vector<std::string> recipients;
  for (const std::string& r : e.recipients) recipients.push_back(JsonString(r));
  std::string out = "{\"id\":" + JsonString(e.id) + ",\"folder\":" + JsonString(e.folder) +
                    ",\"damaged\":" + (e.damaged ? "true" : "false") + ",\"arrival\":" + JsonOptional(e.arrival);
  if (e.damaged) return out + "}";
  return out + ",\"size\":" + std::to_string(e.size) + ",\"sender\":" + JsonString(e.sender) +
         ",\"recipients\":[" + Joined(recipients, ",") + "],\"attempts\":" + std::to_string(e.attempts) +
         ",\"next_try\":" + JsonOptional(e.next_try) + "}";
}

}  // namespace

std::string IsoUtc(std::time_t when) {
  std::tm utc{};
  gmtime_r(&when, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

std::string TerminalSafe(std::string_view bytes) {
  std::string out;
  WalkText(
      bytes,
      [&](std::string_view kept) {
        if (kept == "\\") out += "\\x5c";
        else out += kept;
      },
      [&](unsigned value) { out += Hex("\\x%02x", value); });
  return out;
}

std::string JsonString(std::string_view bytes) {
  std::string out = "\"";
  WalkText(
      bytes,
      [&](std::string_view kept) {
        if (kept == "\"" || kept == "\\") out += '\\';
        out += kept;
      },
      [&](unsigned value) { out += Hex("\\u%04x", value); });
  return out + "\"";
}

std::string QueueLines(const std::vector<QueueEntry>& entries) {
  std::string out;
  for (const QueueEntry& e : entries) {
    out += TerminalSafe(e.id) + "\t" + e.folder + "\t";
    if (e.damaged) {
      out += "damaged\n";
      continue;
    }
    std::vector<std::string> recipients;
    for (const std::string& r : e.recipients) recipients.push_back(TerminalSafe(r));
    out += std::to_string(e.size) + "\t" + Optional(e.arrival) + "\t" + TerminalSafe(e.sender) + "\t" +
           Joined(recipients, ",") + "\t" + std::to_string(e.attempts) + "\t" + Optional(e.next_try) + "\n";
  }
  return out;
}

std::string QueueJson(const std::vector<QueueEntry>& entries) {
  std::vector<std::string> objects;
  for (const QueueEntry& e : entries) objects.push_back(JsonObject(e));
  return "[" + Joined(objects, ",\n") + "]\n";
}

}  // namespace dorvane
