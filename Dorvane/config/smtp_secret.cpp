#include "config/smtp_secret.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/files.h"
#include "base/program.h"

namespace dorvane {
namespace {

const char kSecretFile[] = "Dorvane.secret";
// More than any password: the rest of a larger file is not read.
constexpr size_t kMaxSecretBytes = 4096;

std::string Mode(uint32_t bits) {
  char text[16];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(bits & 07777));
  return text;
}

SmtpSecret Fault(const std::string& why) { return SmtpSecret{"", std::string(kSecretFile) + " " + why}; }

}  // namespace

SmtpSecret ReadSmtpSecret(Files& files) {
  const std::string path = ProgramPath(kSecretFile);
  uint32_t bits = 0;
  int err = files.PermissionBits(path, &bits);
  if (err == ENOENT) return Fault("is missing");
  if (err != 0) return Fault("cannot be read (" + std::string(std::strerror(err)) + ")");
  if ((bits & 077) != 0)
    return Fault("may be read by others (mode " + Mode(bits) + "): chmod 600 " + kSecretFile);
  std::string bytes;
  err = files.ReadAtMost(path, kMaxSecretBytes, &bytes);
  if (err != 0) return Fault("cannot be read (" + std::string(std::strerror(err)) + ")");
  std::string password = bytes.substr(0, bytes.find('\n'));
  if (!password.empty() && password.back() == '\r') password.pop_back();
  if (password.empty()) return Fault("holds no password on its first line");
  return SmtpSecret{password, ""};
}

int WriteSmtpSecret(Files& files, const std::string& password) {
  return files.WriteDurable(ProgramPath(kSecretFile), password + "\n");
}

}  // namespace dorvane
