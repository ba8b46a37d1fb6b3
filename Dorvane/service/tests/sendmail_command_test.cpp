#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "config/configuration.h"
#include "service/control_client.h"
#include "service/sendmail_command.h"
#include "service/sendmail_queue.h"
#include "tests/support/test_environment.h"

namespace dorvane {
namespace {

using Strings = std::vector<std::string>;

// What the command makes of a command line and an input.
struct Outcome {
  int code = 0;
  Strings rcpts;
  std::string from;
  std::string data;
};

// The outcome of a refusal: its exit code and nothing queued.
Outcome Refused(int code) { return Outcome{code, {}, "", ""}; }

const SendmailContext kContext{"example.test", "alice", 0, "0123456789"};
// Fields that keep the command from adding its own.
const char kFields[] = "From: a@x.test\nDate: now\nMessage-Id: <m@x.test>\n";
const char kStoredFields[] = "From: a@x.test\r\nDate: now\r\nMessage-Id: <m@x.test>\r\n";

Outcome Send(const Strings& args, const std::string& input) {
  Outcome out;
  SendmailOptions options;
  CMessage message;
  std::optional<SendmailError> error = ParseSendmailArgs(args, &options);
  if (!error)
    error = BuildSendmailMessage(options, CutAtDotLine(input, options.dot_ends_input), kContext, &message);
  if (error) {
    out.code = error->code;
    EXPECT_EQ(error->line.find('\n'), std::string::npos) << error->line;
    return out;
  }
  out.rcpts.assign(message.RcptToList().begin() + 1, message.RcptToList().end());
  out.from = message.From;
  out.data = message.Data;
  return out;
}

struct Row {
  const char* what;
  Strings args;
  std::string input;
  Outcome expected;
};

TEST(SendmailCommand, BuildsTheStoredMessageOrRefuses) {
  const std::string f = kFields;
  const std::string sf = kStoredFields;
  std::string many = "To: r0@y.test";
  for (int k = 1; k < 256; ++k) many += ", r" + std::to_string(k) + "@y.test";
  const std::vector<Row> rows = {
      {"recipients as arguments, LF made CR LF", {"-f", "a@x.test", "b@y.test", "c@z.test"}, f + "\nhi\n",
       {0, {"<b@y.test>", "<c@z.test>"}, "<a@x.test>", sf + "\r\nhi\r\n"}},
      {"glued -f, -r, bare names qualified", {"-fa@x.test", "root"}, f + "\nhi",
       {0, {"<root@example.test>"}, "<a@x.test>", sf + "\r\nhi\r\n"}},
      {"-r and a bracketed address", {"-r", "<bob>", "<b@y.test>"}, f,
       {0, {"<b@y.test>"}, "<bob@example.test>", sf}},
      {"default sender is the login name", {"b@y.test"}, f, {0, {"<b@y.test>"}, "<alice@example.test>", sf}},
      {"-t takes To, Cc, Bcc and drops Bcc with its continuation, each recipient once",
       {"-t", "-f", "a@x.test", "c@y.test"},
       f + "To: \"Doe, J\" <b@y.test>, c@y.test\nBcc: d@z.test,\n e@z.test\nCc: grp: f@w.test;\n\nbody\n",
       {0, {"<c@y.test>", "<b@y.test>", "<d@z.test>", "<e@z.test>", "<f@w.test>"}, "<a@x.test>",
        sf + "To: \"Doe, J\" <b@y.test>, c@y.test\r\nCc: grp: f@w.test;\r\n\r\nbody\r\n"}},
      {"without -t header recipients are not taken", {"-f", "a@x.test", "b@y.test"}, f + "Bcc: d@z.test\n",
       {0, {"<b@y.test>"}, "<a@x.test>", sf + "Bcc: d@z.test\r\n"}},
      {"a lone dot ends the input", {"-f", "a@x.test", "b@y.test"}, f + "\none\n.\ntwo\n",
       {0, {"<b@y.test>"}, "<a@x.test>", sf + "\r\none\r\n"}},
      {"-i keeps a lone dot, doubled", {"-i", "-f", "a@x.test", "b@y.test"}, f + "\none\n.\ntwo\n",
       {0, {"<b@y.test>"}, "<a@x.test>", sf + "\r\none\r\n..\r\ntwo\r\n"}},
      {"-oi too, and other -o/-B options ignored", {"-oi", "-oem", "-B", "8BITMIME", "-B7BIT", "-f", "a@x.test", "b@y.test"},
       f + "\r\n.\r\n", {0, {"<b@y.test>"}, "<a@x.test>", sf + "\r\n..\r\n"}},
      {"a leading dot doubled", {"-f", "a@x.test", "b@y.test"}, f + "\n.hidden\n..two\n",
       {0, {"<b@y.test>"}, "<a@x.test>", sf + "\r\n..hidden\r\n...two\r\n"}},
      {"a CR alone ends a line, so -t sees what is stored", {"-t", "-f", "a@x.test"},
       f + "To: b@y.test\rBcc: d@z.test\r\rhi\r",
       {0, {"<b@y.test>", "<d@z.test>"}, "<a@x.test>", sf + "To: b@y.test\r\n\r\nhi\r\n"}},
      {"256 recipients", {"-t"}, f + many + "\n", Refused(65)},
      {"a NUL byte", {"b@y.test"}, f + std::string("\nA\0B\n", 5), Refused(65)},
      {"a bad header address", {"-t"}, f + "To: b c@y.test\n", Refused(65)},
      {"-t finds no recipient", {"-t"}, f + "\n", Refused(64)},
      {"no recipient", {}, f, Refused(64)},
      {"a bad argument address", {"a@b@c"}, f, Refused(64)},
      {"an unknown option", {"-q", "b@y.test"}, f, Refused(64)},
      {"-f without its value", {"b@y.test", "-f"}, f, Refused(64)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Outcome out = Send(row.args, row.input);
    EXPECT_EQ(out.code, row.expected.code);
    EXPECT_EQ(out.rcpts, row.expected.rcpts);
    EXPECT_EQ(out.from, row.expected.from);
    EXPECT_EQ(out.data, row.expected.data);
  }
}

TEST(SendmailCommand, AddsMissingFromDateAndMessageIdAndSeparatesTheBody) {
  const char* tz = std::getenv("TZ");
  std::string saved = tz ? tz : "";
  setenv("TZ", "UTC", 1);
  tzset();
  Outcome out = Send({"-F", "Ann \"B\" Lee", "b@y.test"}, "hello\n");
  tz ? setenv("TZ", saved.c_str(), 1) : unsetenv("TZ");
  tzset();
  EXPECT_EQ(out.data,
            "From: \"Ann \\\"B\\\" Lee\" <alice@example.test>\r\n"
            "Date: Thu, 01 Jan 1970 00:00:00 +0000\r\n"
            "Message-Id: <19700101000000.0123456789@example.test>\r\n"
            "\r\nhello\r\n");
}

TEST(SendmailCommand, RefusesInputLargerThanTheRelayTakes) {
  std::string input = std::string(kFields) + "\n" + std::string(kMaxMessageBytes, 'x');
  EXPECT_EQ(Send({"b@y.test"}, input).code, 65);
  // Under the bound as given, over it once the dots are doubled.
  std::string dots = std::string(kFields) + "\n";
  while (dots.size() + 2 < kMaxMessageBytes) dots += ".\n";
  EXPECT_EQ(Send({"-i", "b@y.test"}, dots).code, 65);
  std::string fields = kFields;
  while (fields.size() <= 1024 * 1024) fields += "X-Filler: y\n";
  EXPECT_EQ(Send({"b@y.test"}, fields).code, 65);
}

// Listing instead of sending: -bp, or the program called as mailq.
TEST(SendmailCommand, ListsTheQueueWithBpOrAsMailq) {
  struct ModeRow {
    const char* argv0;
    Strings args;
    bool list;
  };
  const std::vector<ModeRow> rows = {
      {"dorvane-sendmail", {"-bp"}, true},
      {"/usr/sbin/sendmail", {"-bp"}, true},
      {"/usr/bin/mailq", {}, true},
      {"mailq", {}, true},
      {"/usr/sbin/sendmail", {"-bm", "b@y.test"}, false},
      {"/usr/lib/dorvane-sendmail", {"b@y.test"}, false},
      {"/opt/mailq/sendmail", {"b@y.test"}, false},
      {"mailq.old", {"b@y.test"}, false},
  };
  for (const ModeRow& row : rows) {
    SCOPED_TRACE(row.argv0);
    SendmailOptions options;
    options.list_queue = CalledAsMailq(row.argv0);
    EXPECT_FALSE(ParseSendmailArgs(row.args, &options));
    EXPECT_EQ(options.list_queue, row.list);
  }
  SendmailOptions options;
  EXPECT_EQ(ParseSendmailArgs({"-bs"}, &options)->code, 64) << "no SMTP on standard input";
}

// Bare names take MailDomain of Dorvane.ini, else the computer's domain.
TEST(SendmailCommand, MailDomainComesFromTheFileOrTheHostName) {
  struct DomainRow {
    const char* what;
    std::optional<std::string> ini;  // Dorvane.ini, none when missing
    std::string host_name;
    std::string domain;
  };
  const std::vector<DomainRow> rows = {
      {"set in the file", "<Global>\r\n\tMailDomain\tcorp.test\r\n</Global>\r\n", "mail.example.test", "corp.test"},
      {"not set: the host name without its first label", "ListenPort\t2525\r\n", "mail.example.test", "example.test"},
      {"set empty", "MailDomain\r\n", "mail.example.test", "example.test"},
      {"a one-label host name", std::nullopt, "vm", "vm"},
      {"a host name ending in a dot", std::nullopt, "vm.", "vm."},
      {"no host name", std::nullopt, "", "localhost"},
      {"a file the relay refuses", "MailDomain corp.test\r\nListenPort x\r\n", "mail.example.test", "example.test"},
  };
  for (const DomainRow& row : rows) {
    SCOPED_TRACE(row.what);
    TestEnvironment t;
    if (row.ini) t.program.Write("Dorvane.ini", *row.ini);
    std::string domain = EffectiveMailDomain(ReadProgramConf(t.files), row.host_name);
    EXPECT_EQ(domain, row.domain);
    SendmailContext context = kContext;
    context.domain = domain;
    SendmailOptions options;
    options.recipients = {"root"};
    CMessage message;
    ASSERT_FALSE(BuildSendmailMessage(options, kFields, context, &message));
    EXPECT_EQ(message.RcptToList().back(), "<root@" + row.domain + ">");
    EXPECT_EQ(message.From, "<alice@" + row.domain + ">");
  }
}

// Queuing: all files durable, or an exit code and nothing left.
TEST(SendmailCommand, QueuesEachDomainOrFailsWithNothingLeft) {
  struct QueueRow {
    const char* what;
    const char* operation;  // a Files operation to fail on OutBox, or none
    int error;
    bool outbox;
    std::optional<uint64_t> free_bytes;
    int code;
  };
  const std::vector<QueueRow> rows = {
      {"written", nullptr, 0, true, std::nullopt, 0},
      {"disk full", "WriteDurable", ENOSPC, true, std::nullopt, 75},
      {"quota reached", "WriteDurable", EDQUOT, true, std::nullopt, 75},
      {"no room told in advance", nullptr, 0, true, uint64_t{1000}, 75},
      {"OutBox not writable", "WriteDurable", EACCES, true, std::nullopt, 73},
      {"rename refused", "Rename", EACCES, true, std::nullopt, 73},
      {"staged file removed by a starting relay", "Rename", ENOENT, true, std::nullopt, 75},
      {"OutBox missing", nullptr, 0, false, std::nullopt, 73},
  };
  for (const QueueRow& row : rows) {
    SCOPED_TRACE(row.what);
    TestEnvironment t;
    if (row.outbox) t.ResetSpoolFolders();
    if (row.operation) t.files.Fail(row.operation, "OutBox", row.error);
    t.files.free_bytes = row.free_bytes;
    SendmailOptions options;
    options.recipients = {"b@y.test", "c@z.test"};
    CMessage message;
    ASSERT_FALSE(BuildSendmailMessage(options, kFields, kContext, &message));
    std::optional<SendmailError> error = QueueSendmailMessage(t.files, t.logs, t.clock, message);
    EXPECT_EQ(error ? error->code : 0, row.code);
    EXPECT_EQ(t.FolderFiles("OutBox").size(), row.code == 0 ? 2u : 0u);
  }
}

TEST(SendmailCommand, Sha1HexMatchesKnownDigests) {
  EXPECT_EQ(Sha1Hex(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
  EXPECT_EQ(Sha1Hex("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
  // 56 bytes: the length no longer fits the first block.
  EXPECT_EQ(Sha1Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
  EXPECT_EQ(Sha1Hex(std::string(1000, 'a')), "291e9a6c66994949b57ba5e650361e98fc36b1ba");
}

// A stand-in relay on the control channel's socket: accepts one connection,
// reads the command line, answers `answer` (nothing when empty) and closes.
class FakeRelay {
 public:
  FakeRelay(const std::string& path, std::string answer) : answer_(std::move(answer)) {
    fd_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0) << path;
    EXPECT_EQ(::listen(fd_, 1), 0);
    thread_ = std::thread([this] { Serve(); });
  }
  ~FakeRelay() {
    if (thread_.joinable()) received();
    ::close(fd_);
  }
  // The command line received, once the client has returned.
  std::string received() {
    ::shutdown(fd_, SHUT_RDWR);  // wakes a wait for a client that never came
    thread_.join();
    return received_;
  }

 private:
  bool Wait(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 3000) == 1;
  }
  void Serve() {
    int peer = Wait(fd_) ? ::accept(fd_, nullptr, nullptr) : -1;
    if (peer < 0) return;
    char buffer[256];
    ssize_t n = Wait(peer) ? ::recv(peer, buffer, sizeof buffer, 0) : 0;
    if (n > 0) received_.assign(buffer, static_cast<size_t>(n));
    if (answer_.empty()) Wait(peer);  // silent: holds the line until the client gives up
    else ::send(peer, answer_.data(), answer_.size(), MSG_NOSIGNAL);
    ::close(peer);
  }
  int fd_;
  std::string answer_;
  std::string received_;
  std::thread thread_;
};

// The scan request after queuing: asked of a relay of this user when one
// listens; no relay, a silent one or a channel folder open to others is
// no answer, and the command still ends at once.
TEST(SendmailCommand, AsksARunningRelayToScan) {
  struct ClientRow {
    const char* what;
    bool listening;
    std::string answer;
    mode_t folder_mode;
    ControlOutcome outcome;
    std::string received;
  };
  const std::vector<ClientRow> rows = {
      {"a relay answers", true, "OutBox examinée\n", 0700, ControlOutcome::Answered, "scan\n"},
      {"no relay", false, "", 0700, ControlOutcome::NoInstance, ""},
      {"a relay that never answers", true, "", 0700, ControlOutcome::NoInstance, "scan\n"},
      {"a folder others may enter", true, "x\n", 0755, ControlOutcome::NoInstance, ""},
  };
  for (const ClientRow& row : rows) {
    SCOPED_TRACE(row.what);
    TestEnvironment t;
    std::string path = ControlSocketPaths(Sha1Hex).front();
    ASSERT_EQ(path, t.program.Path("run/" + ControlChannelName(Sha1Hex)));
    std::filesystem::create_directories(ControlSocketFolder(path));
    ::chmod(ControlSocketFolder(path).c_str(), row.folder_mode);
    std::optional<FakeRelay> relay;
    if (row.listening) relay.emplace(path, row.answer);
    std::string answer, foreign;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(AskRunningRelay("scan", 300, &answer, &foreign, Sha1Hex), row.outcome);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(relay ? relay->received() : "", row.received);
    EXPECT_EQ(answer, row.outcome == ControlOutcome::Answered ? row.answer : "");
  }
}

}  // namespace
}  // namespace dorvane
