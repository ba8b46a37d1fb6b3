// The version check's texts: the HTTP request that asks the web host for
// the current version, and the reading of its answer, whose version sits
// between "BEGIN" and "END" anywhere in the reply.
#pragma once

#include <optional>
#include <string>

namespace dorvane {

// Where the check asks: `--update-host HOST[:PORT]`.
struct UpdateServer {
  std::string host;  // as given, also the "Host: " line
  std::string name;  // the part before ":" (what to connect to)
  int port = 80;
};

// Reads HOST or HOST:PORT; nullopt for an empty host or a port that is not
// a number from 1 to 65535.
std::optional<UpdateServer> ParseUpdateServer(const std::string& text);

// The request lines, each ended by CR LF, and the empty line that ends it.
std::string VersionRequest(const std::string& host, const std::string& version_text);

struct ProgramVersion {
  int major = 0;
  int minor = 0;
  std::string text;  // major "." minor as numbers, e.g. "3.1": never the server's own bytes
};

// The version named in `answer`: the text after the first "BEGIN" up to the
// next "END", read as major "." minor, each a whole number of at most
// 32767 (pieces after a second "." are ignored). nullopt when there is no
// "BEGIN" or the text is not such a version.
std::optional<ProgramVersion> ParseVersionAnswer(const std::string& answer);

// Whether `v` is newer than major.minor.
bool IsNewer(const ProgramVersion& v, int major, int minor);

}  // namespace dorvane
