// dorvane-sendmail: the local mail command. It reads one message on
// standard input and writes it straight into the program folder's OutBox,
// so it works whether the relay runs or not; a running relay of the same
// user is then told to scan OutBox at once (without one, the next start
// sends it). Called as "mailq", or with -bp, it lists the queue instead.
//
//   dorvane-sendmail [-t] [-i|-oi] [-f sender|-r sender] [-F name] [recipient ...]
//   dorvane-sendmail -bp      (or: mailq)
//
// The program folder is the relay's (UseProgramFolder), $DORVANE_HOME in
// place of --home; bare names take MailDomain of its Dorvane.ini.
// Exit codes: 0 once the message is on disk, 64 usage, 65 bad message,
// 73 cannot create (OutBox missing or not writable), 75 try later.

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/clock.h"
#include "base/files.h"
#include "base/program.h"
#include "config/configuration.h"
#include "config/network_params.h"
#include "delivery/notice_text.h"
#include "log/logs.h"
#include "service/control_client.h"
#include "service/sendmail_command.h"
#include "service/sendmail_queue.h"
#include "spool/queue_listing.h"

namespace {

using namespace dorvane;

// The relay's rule, with $DORVANE_HOME in place of --home.
std::optional<SendmailError> ChooseFolder() {
  const char* home = std::getenv("DORVANE_HOME");
  std::string error = UseProgramFolder(home ? home : "", ExecutableFolder(), std::getenv);
  if (error.empty()) return std::nullopt;
  return SendmailFailure(kExitCantCreat, error);
}

// Standard input, reading no more than one byte past the largest message,
// so an endless input is refused without being held whole. When a lone "."
// ends the input, reading stops right after it: at a terminal, typing "."
// ends the message.
std::string ReadInput(bool dot_ends_input) {
  std::string input;
  size_t line_start = 0;
  int c;
  while (input.size() <= kMaxMessageBytes && (c = getc_unlocked(stdin)) != EOF) {
    input += static_cast<char>(c);
    if (c != '\n') continue;
    std::string_view line = std::string_view(input).substr(line_start);
    if (dot_ends_input && (line == ".\n" || line == ".\r\n")) break;
    line_start = input.size();
  }
  return input;
}

std::string LoginName() {
  const passwd* pw = getpwuid(getuid());
  return pw != nullptr && pw->pw_name != nullptr ? pw->pw_name : "uid" + std::to_string(getuid());
}

int Report(const SendmailError& error) {
  std::fprintf(stderr, "%s\n", error.line.c_str());
  return error.code;
}

// How long a running relay may take to take the scan request: the message
// is queued already, so this only bounds how long the caller waits.
constexpr int kScanTimeoutMs = 2000;

// Lists OutBox, Deferred and Error as `dorvane queue` does.
int ListQueue(Files& files) {
  std::string out, error;
  int rc = RunQueueCommand(files, "queue", "", false, &out, &error);
  std::fputs(out.c_str(), stdout);
  if (!error.empty()) std::fprintf(stderr, "dorvane-sendmail: %s", error.c_str());
  return rc;
}

// Asks a running relay to scan OutBox now ("scan", not "flush": a script
// that sends often must not cut every deferral short). No relay, a silent
// one or one of another user changes nothing: the message waits for the
// next scan.
void AskForScan() {
  std::string answer, foreign;
  AskRunningRelay("scan", kScanTimeoutMs, &answer, &foreign, Sha1Hex);
}

int Run(const std::string& argv0, const std::vector<std::string>& args) {
  SendmailOptions options;
  options.list_queue = CalledAsMailq(argv0);
  if (auto error = ParseSendmailArgs(args, &options)) return Report(*error);
  if (auto error = ChooseFolder()) return Report(*error);
  DiskFiles files;
  if (options.list_queue) return ListQueue(files);
  SystemClock clock;
  NetworkParams network;
  DiscoverNetworkParams(network, files);
  SendmailContext context{EffectiveMailDomain(ReadProgramConf(files), network.host_name), LoginName(),
                          clock.Now(), RandomIdToken(clock)};
  std::string input = ReadInput(options.dot_ends_input);
  if (std::ferror(stdin)) return Report(SendmailFailure(kExitDataErr, "cannot read standard input"));
  CMessage message;
  if (auto error = BuildSendmailMessage(options, CutAtDotLine(input, options.dot_ends_input), context, &message))
    return Report(*error);
  Logs logs(files, ProgramFolder());
  logs.SetDebugMode(false);  // no debug log of its own: Debug.html belongs to the relay's settings
  if (auto error = QueueSendmailMessage(files, logs, clock, message)) return Report(*error);
  AskForScan();
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc > 0 ? argv[0] : "", std::vector<std::string>(argv + std::min(argc, 1), argv + argc));
  } catch (const std::exception& e) {
    return Report(SendmailFailure(kExitTempFail, std::string("unexpected error: ") + e.what()));
  }
}
