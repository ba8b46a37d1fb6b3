// The smarthost's password: the first line of Dorvane.secret in the program
// folder, kept out of Dorvane.ini so that the settings can be shown and
// shared without it. Like a private key, the file must be its owner's
// alone: one that group or others may touch at all is refused.
#pragma once

#include <string>

namespace dorvane {

class Files;

// What reading the secret gave: the password, or why there is none.
struct SmtpSecret {
  std::string password;
  std::string fault;  // empty when `password` is usable
};

// Reads the password now, through `files` (so a password written a moment
// ago is the one used). The fault names the file and, for a file open to
// others, its mode and the cure. The password itself is never part of a
// fault text.
SmtpSecret ReadSmtpSecret(Files& files);

// Writes `password` as the whole of Dorvane.secret (a new file is 0600; an
// existing one keeps its mode, which is never widened). 0 or the errno.
int WriteSmtpSecret(Files& files, const std::string& password);

}  // namespace dorvane
