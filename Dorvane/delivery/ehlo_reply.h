// What the client reads of an EHLO reply, and the encoding of the AUTH
// exchange. The reply comes from a peer that may be hostile: only a bounded
// part of it is looked at, and nothing of it is ever sent back.
#pragma once

#include <cstddef>
#include <string>

namespace dorvane {

// Lines of an EHLO reply looked at; the rest is ignored.
constexpr size_t kMaxEhloLines = 64;

// The extensions the client uses, as the server announced them.
struct EhloCapabilities {
  bool starttls = false;
  bool auth_plain = false;
  bool auth_login = false;
  bool pipelining = false;  // MAIL FROM, RCPT TO and DATA may go together
};

// Reads the keyword lines ("250-STARTTLS", "250 AUTH PLAIN LOGIN", the old
// "250-AUTH=LOGIN") of a complete EHLO reply, case-insensitively; the
// first line (the server's name) announces nothing.
EhloCapabilities ReadCapabilities(const std::string& reply);

// `bytes` in base64 (RFC 4648, with padding).
std::string Base64(const std::string& bytes);

}  // namespace dorvane
