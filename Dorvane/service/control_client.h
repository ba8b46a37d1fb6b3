// The client end of the local control channel, and where the channel
// lives: a plain local socket, so that the command line and the local mail
// command reach a running relay without Qt. The channel's name comes from
// the program folder, so instances with different homes never meet; it
// lives in a folder only its user can enter, and the client talks only to
// a relay of its own user.
#pragma once

#include <string>
#include <vector>

namespace dorvane {

// A lowercase hex SHA-1 digest. Each program names the channel with the one
// it has at hand: the mail command with Sha1Hex, the relay with Qt's, which
// it carries anyway, so that it loads OpenSSL only for its first TLS session.
using Sha1Function = std::string (*)(const std::string& bytes);

// "dorvane-" + the first 16 hex digits of the SHA-1 of ProgramFolder().
std::string ControlChannelName(Sha1Function sha1);

// Where the channel may live, best first: $XDG_RUNTIME_DIR when it is an
// absolute folder of this user closed to others, then the program folder's
// "run" folder, then "dorvane-" + uid in the temporary folder (for a
// program folder too deep for a socket path). Paths of the socket, not
// checked for existence; each end uses a folder only when it is private.
std::vector<std::string> ControlSocketPaths(Sha1Function sha1);

// The folder of a socket path from ControlSocketPaths().
std::string ControlSocketFolder(const std::string& path);

// Whether `folder` is a real folder (not a link) owned by this user with
// no group or other permissions.
bool IsPrivateFolder(const std::string& folder);

// The lowercase hex SHA-1 digest of `bytes`, by OpenSSL.
std::string Sha1Hex(const std::string& bytes);

enum class ControlOutcome {
  Answered,    // the relay answered; the answer is stored
  NoInstance,  // no relay listens, or none answered in time
  Foreign,     // the socket found belongs to another user: nothing was sent
};

// Sends the command line `command` to the running relay at the first
// private path of ControlSocketPaths() that accepts a connection and reads
// its answer to the end (at most 64 KiB). The exchange with one socket
// lasts at most `timeout_ms`, however the other end behaves. On Foreign,
// `foreign_path` names the socket.
ControlOutcome AskRunningRelay(const std::string& command, int timeout_ms, std::string* answer,
                               std::string* foreign_path, Sha1Function sha1);

}  // namespace dorvane
