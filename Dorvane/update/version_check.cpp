#include "update/version_check.h"

#include <algorithm>
#include <cctype>

namespace dorvane {
namespace {

// A whole number of at most 32767 (the check's 16-bit integers); -1 else.
int SmallNumber(const std::string& text) {
  if (text.empty() || text.size() > 5) return -1;
  if (!std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c) != 0; }))
    return -1;
  int value = std::stoi(text);
  return value <= 32767 ? value : -1;
}

}  // namespace

std::optional<UpdateServer> ParseUpdateServer(const std::string& text) {
  UpdateServer server{text, text, 80};
  size_t colon = text.rfind(':');
  if (colon != std::string::npos) {
    server.name = text.substr(0, colon);
    std::string port = text.substr(colon + 1);
    bool digits = !port.empty() && port.size() <= 5 &&
                  std::all_of(port.begin(), port.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
    if (!digits) return std::nullopt;
    server.port = std::stoi(port);
    if (server.port < 1 || server.port > 65535) return std::nullopt;
  }
  if (server.name.empty()) return std::nullopt;
  return server;
}

std::string VersionRequest(const std::string& host, const std::string& version_text) {
  return "GET /Dorvane/version HTTP/1.1\r\n"
         "Accept: image/gif, image/jpeg, */*\r\n"
         "Accept-Language: fr\r\n"
         "Accept-Encoding: gzip , deflate\r\n"
         "User-Agent: Dorvane/" + version_text + " (Dorvane Application from Telvar)\r\n"
         "Host: " + host + "\r\n"
         "Connection: Keep-Alive\r\n"
         "\r\n";
}

std::optional<ProgramVersion> ParseVersionAnswer(const std::string& answer) {
  size_t begin = answer.find("BEGIN");
  if (begin == std::string::npos) return std::nullopt;
  std::string text = answer.substr(begin + 5);
  text = text.substr(0, text.find("END"));
  size_t dot = text.find('.');
  if (dot == std::string::npos) return std::nullopt;
  size_t second_end = text.find('.', dot + 1);  // "3.1.2": major 3, minor 1
  int major = SmallNumber(text.substr(0, dot));
  int minor = SmallNumber(text.substr(dot + 1, second_end == std::string::npos ? std::string::npos
                                                                               : second_end - dot - 1));
  if (major < 0 || minor < 0) return std::nullopt;
  // Only the numbers go on: whatever else the answer held is the server's.
  return ProgramVersion{major, minor, std::to_string(major) + "." + std::to_string(minor)};
}

bool IsNewer(const ProgramVersion& v, int major, int minor) {
  return v.major > major || (v.major == major && v.minor > minor);
}

}  // namespace dorvane
