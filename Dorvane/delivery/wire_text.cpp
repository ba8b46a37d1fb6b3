#include "delivery/wire_text.h"

#include <string_view>

namespace dorvane {

bool IsWireSafe(const std::string& data) {
  for (size_t k = 0; k < data.size(); ++k) {
    if (data[k] == '\r' && (k + 1 == data.size() || data[k + 1] != '\n')) return false;
    if (data[k] == '\n' && (k == 0 || data[k - 1] != '\r')) return false;
  }
  // The text is sent after the CR LF of a reply and followed by one.
  return ("\r\n" + data + "\r\n").find("\r\n.\r\n") == std::string::npos;
}

std::string ToWireLines(const std::string& text) {
  std::string out;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find_first_of("\r\n", start);
    const std::string_view line =
        std::string_view(text).substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!line.empty() && line.front() == '.') out += '.';
    out.append(line);
    out += "\r\n";
    if (end == std::string::npos) break;
    start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    if (start == text.size()) break;
  }
  return out;
}

}  // namespace dorvane
