#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

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

TEST(SendmailCommand, MailDomainDropsTheFirstLabel) {
  EXPECT_EQ(MailDomainOf("mail.example.test"), "example.test");
  EXPECT_EQ(MailDomainOf("vm"), "vm");
  EXPECT_EQ(MailDomainOf("vm."), "vm.");
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

}  // namespace
}  // namespace dorvane
