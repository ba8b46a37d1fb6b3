// The local mail command: its options, as scripts and mail programs pass
// them, and the queued message it builds from the text on standard input.
// Pure rules: no files, no clock, no user database.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "spool/message.h"

namespace dorvane {

// The exit codes of the command (the usual system exit codes).
enum SendmailExit : int {
  kExitOk = 0,
  kExitUsage = 64,     // a wrong option or address on the command line
  kExitDataErr = 65,   // the message cannot be queued as given
  kExitCantCreat = 73, // OutBox missing or not writable
  kExitTempFail = 75,  // try later: the disk is full
};

// A failure: the exit code and the one line for standard error.
struct SendmailError {
  int code = kExitOk;
  std::string line;
};

// A failure with code `code` and the line "dorvane-sendmail: " + `text`.
SendmailError SendmailFailure(int code, const std::string& text);

// What the command line asks for.
struct SendmailOptions {
  std::vector<std::string> recipients;  // the arguments, as given
  bool from_headers = false;            // -t: recipients from To, Cc and Bcc
  std::string sender;                   // -f / -r, empty for the default
  std::string full_name;                // -F
  bool dot_ends_input = true;           // false with -i / -oi
  bool list_queue = false;              // -bp, or called as mailq: list the queue, send nothing
};

// Whether the program called `argv0` acts as mailq: its file name is
// "mailq" (any folder).
bool CalledAsMailq(const std::string& argv0);

// Reads `args` (without the program name). Other -o... and -B... options
// are taken and ignored; anything else starting with "-" is a usage error.
std::optional<SendmailError> ParseSendmailArgs(const std::vector<std::string>& args,
                                               SendmailOptions* options);

// What the message needs from outside: the mail domain, the login name
// (the default sender) and the moment, and a fresh id token.
struct SendmailContext {
  std::string domain;
  std::string login;
  std::time_t now = 0;
  std::string id_token;
};

// The input up to, not including, a line holding only "." when
// `dot_ends_input` (LF or CR LF line ends); otherwise all of it.
std::string_view CutAtDotLine(std::string_view input, bool dot_ends_input);

// Builds the message to queue from `text` (the input already cut): line ends
// made CR LF (a CR alone counts as a line end), a leading "." doubled, a
// missing From, Date or Message-Id header added, the Bcc header removed
// with -t. Fails (65 for the text, 64 for the command line) on a NUL byte,
// a bad address, no recipient, too many of them, or a stored text larger
// than the relay takes.
std::optional<SendmailError> BuildSendmailMessage(const SendmailOptions& options,
                                                  std::string_view text,
                                                  const SendmailContext& context, CMessage* message);

}  // namespace dorvane
