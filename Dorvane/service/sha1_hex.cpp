// Sha1Hex apart from the rest of the control client, so that a program
// that names the channel with another digest (the relay) never links
// OpenSSL for it.
#include <openssl/sha.h>

#include <cstdio>
#include <string>

#include "service/control_client.h"

namespace dorvane {

std::string Sha1Hex(const std::string& bytes) {
  unsigned char digest[SHA_DIGEST_LENGTH];
  SHA1(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), digest);
  std::string hex;
  char digits[3];
  for (unsigned char byte : digest) {
    std::snprintf(digits, sizeof digits, "%02x", byte);
    hex += digits;
  }
  return hex;
}

}  // namespace dorvane
