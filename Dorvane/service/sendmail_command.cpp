#include "service/sendmail_command.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "delivery/notice_text.h"
#include "base/dates.h"

namespace dorvane {

namespace {

const char kUsage[] = " (usage: dorvane-sendmail [-t] [-i] [-f sender] [-F name] [recipient ...] | -bp)";

// `text` without control bytes, so that it stays one line on a terminal.
std::string Printable(std::string_view text) {
  std::string out;
  for (char c : text)
    if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) out += c;
  return out;
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string Trim(std::string_view text) {
  size_t b = text.find_first_not_of(" \t");
  if (b == std::string_view::npos) return "";
  size_t e = text.find_last_not_of(" \t");
  return std::string(text.substr(b, e - b + 1));
}

// The value of an option taking one: glued ("-fADDR") or the next argument.
bool OptionValue(const std::vector<std::string>& args, size_t* i, std::string* value) {
  if (args[*i].size() > 2) {
    *value = args[*i].substr(2);
    return true;
  }
  if (*i + 1 >= args.size()) return false;
  *value = args[++*i];
  return true;
}

// The stored form "<local@domain>" of `raw` ("a@b", "<a@b>", or a bare name
// qualified with `domain`); nullopt when it is no single plain address.
std::optional<std::string> StoredAddress(std::string_view raw, const std::string& domain) {
  std::string addr = Trim(raw);
  if (addr.size() >= 2 && addr.front() == '<' && addr.back() == '>') addr = addr.substr(1, addr.size() - 2);
  if (addr.empty()) return std::nullopt;
  if (addr.find('@') == std::string::npos) addr += "@" + domain;
  size_t at = addr.find('@');
  if (at == 0 || at + 1 == addr.size() || addr.find('@', at + 1) != std::string::npos) return std::nullopt;
  for (char c : addr)
    if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F || std::string_view("<>,;\"()\\").find(c) != std::string_view::npos)
      return std::nullopt;
  return "<" + addr + ">";
}

// The largest header section taken: real ones are a few kilobytes, and a
// bound keeps an endless one from costing memory line by line.
constexpr size_t kMaxHeaderBytes = 1024 * 1024;

// Reads the line starting at `*pos` into `line`, without its end, and moves
// `*pos` past it; LF, CR LF and a CR alone all end a line. False at the end.
bool NextLine(std::string_view text, size_t* pos, std::string_view* line) {
  if (*pos >= text.size()) return false;
  size_t end = text.find_first_of("\r\n", *pos);
  if (end == std::string_view::npos) end = text.size();
  *line = text.substr(*pos, end - *pos);
  *pos = end;
  if (end < text.size()) *pos += (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1;
  return true;
}

bool IsFieldStart(std::string_view line) {
  size_t colon = line.find(':');
  if (colon == 0 || colon == std::string_view::npos) return false;
  return std::all_of(line.begin(), line.begin() + static_cast<long>(colon),
                     [](char c) { return c > 0x20 && c < 0x7F; });
}

bool IsContinuation(std::string_view line) { return !line.empty() && (line[0] == ' ' || line[0] == '\t'); }

// One header field: its lower-cased name and its lines [first, end).
struct Field {
  std::string name;
  size_t first;
  size_t end;
};

// The header section: its lines, its fields, and where the body starts
// (the first line that is neither a field nor a continuation).
struct Header {
  std::vector<std::string_view> lines;
  std::vector<Field> fields;
  size_t body = 0;
};

// False when the section is larger than kMaxHeaderBytes.
bool ReadHeader(std::string_view text, Header* header) {
  std::string_view line;
  for (size_t pos = 0; NextLine(text, &pos, &line); header->body = pos) {
    if (IsFieldStart(line)) {
      header->fields.push_back({Lower(line.substr(0, line.find(':'))), header->lines.size(), header->lines.size() + 1});
    } else if (!header->fields.empty() && IsContinuation(line)) {
      ++header->fields.back().end;
    } else {
      break;
    }
    header->lines.push_back(line);
    if (pos > kMaxHeaderBytes) return false;
  }
  return true;
}

std::string FieldValue(const std::vector<std::string_view>& lines, const Field& field) {
  std::string value(lines[field.first].substr(lines[field.first].find(':') + 1));
  for (size_t i = field.first + 1; i < field.end; ++i) value += " " + std::string(lines[i]);
  return value;
}

// The addresses of an address list: "a@b, Name <c@d>, group: e@f;". Quoted
// text and comments hide commas; a group's name is dropped.
std::vector<std::string> ListAddresses(const std::string& value) {
  std::vector<std::string> out;
  std::string item;
  bool quoted = false;
  int comment = 0;
  auto flush = [&] {
    size_t lt = item.find('<');
    std::string addr = lt == std::string::npos ? item : item.substr(lt + 1, item.find('>', lt) - lt - 1);
    if (!Trim(addr).empty()) out.push_back(Trim(addr));
    item.clear();
  };
  for (char c : value) {
    if (quoted || comment) {
      if (c == '"' && !comment) quoted = false;
      if (c == '(' && !quoted) ++comment;
      if (c == ')' && !quoted) --comment;
      continue;
    }
    if (c == '"') quoted = true;
    else if (c == '(') comment = 1;
    else if (c == ',' || c == ';') flush();
    else if (c == ':') item.clear();
    else item += c;
  }
  flush();
  return out;
}

// The display name as a phrase: as given when plain, quoted otherwise.
std::string DisplayName(const std::string& name) {
  std::string clean = Printable(name);
  bool plain = std::all_of(clean.begin(), clean.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || std::string_view(" !#$%&'*+-/=?^_`{|}~").find(c) != std::string_view::npos;
  });
  if (plain) return clean;
  std::string quoted = "\"";
  for (char c : clean) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

std::string DateField(std::time_t now) {
  std::tm local{};
  localtime_r(&now, &local);
  char text[64];
  std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S", &local);
  return "Date: " + std::string(text) + UtcOffsetText(now);
}

bool HasField(const std::vector<Field>& fields, const std::string& name) {
  return std::any_of(fields.begin(), fields.end(), [&](const Field& f) { return f.name == name; });
}

// The fields to add for those the text lacks.
std::vector<std::string> AddedFields(const std::vector<Field>& fields, const std::string& sender,
                                     const SendmailOptions& options, const SendmailContext& context) {
  std::vector<std::string> added;
  std::string bare = sender.substr(1, sender.size() - 2);
  if (!HasField(fields, "from"))
    added.push_back("From: " + (options.full_name.empty() ? bare : DisplayName(options.full_name) + " <" + bare + ">"));
  if (!HasField(fields, "date")) added.push_back(DateField(context.now));
  if (!HasField(fields, "message-id")) {
    NoticeStamp stamp = MakeNoticeStamp(context.now, context.id_token, context.domain);
    added.push_back("Message-Id: <" + stamp.SerialDate + "." + stamp.IdToken + "@" + context.domain + ">");
  }
  return added;
}

SendmailError TooMany() { return SendmailFailure(kExitDataErr, "too many recipients (at most 255)"); }

// Appends `addr` to `rcpts` unless it is there already (a recipient named
// twice gets one copy); false past 255 recipients.
bool AddRecipient(const std::string& addr, std::vector<std::string>* rcpts) {
  if (std::find(rcpts->begin(), rcpts->end(), addr) == rcpts->end()) rcpts->push_back(addr);
  return rcpts->size() <= 256;
}

// Appends to `rcpts` (element 0 already there) the recipients of the
// arguments and, with -t, of the To, Cc and Bcc fields.
std::optional<SendmailError> CollectRecipients(const SendmailOptions& options, const Header& header,
                                               const std::string& domain,
                                               std::vector<std::string>* rcpts) {
  for (const std::string& arg : options.recipients) {
    std::optional<std::string> addr = StoredAddress(arg, domain);
    if (!addr) return SendmailFailure(kExitUsage, "bad recipient address: " + Printable(arg));
    if (!AddRecipient(*addr, rcpts)) return TooMany();
  }
  for (const Field& field : header.fields) {
    if (!options.from_headers || (field.name != "to" && field.name != "cc" && field.name != "bcc")) continue;
    for (const std::string& raw : ListAddresses(FieldValue(header.lines, field))) {
      std::optional<std::string> addr = StoredAddress(raw, domain);
      if (!addr) return SendmailFailure(kExitDataErr, "bad recipient address in the header: " + Printable(raw));
      if (!AddRecipient(*addr, rcpts)) return TooMany();
    }
  }
  if (rcpts->size() == 1) return SendmailFailure(kExitUsage, "no recipient" + std::string(kUsage));
  return std::nullopt;
}

// Appends `line` to `data` in the stored form: a leading "." doubled, CR LF.
void AppendStored(std::string_view line, std::string* data) {
  if (!line.empty() && line[0] == '.') *data += '.';
  data->append(line);
  *data += "\r\n";
}

// The stored text of `text`: the added fields after the text's own, a Bcc
// field dropped when `drop_bcc`, the body as it is; nullopt past the bound.
std::optional<std::string> StoredText(std::string_view text, const Header& header,
                                      const std::vector<std::string>& added, bool drop_bcc) {
  std::string data;
  for (const Field& field : header.fields)
    if (!(drop_bcc && field.name == "bcc"))
      for (size_t i = field.first; i < field.end; ++i) AppendStored(header.lines[i], &data);
  for (const std::string& line : added) AppendStored(line, &data);
  std::string_view line;
  size_t pos = header.body;
  bool first = true;
  while (NextLine(text, &pos, &line)) {
    if (std::exchange(first, false) && !line.empty()) data += "\r\n";  // a body right after the fields
    AppendStored(line, &data);
    if (data.size() > kMaxMessageBytes) return std::nullopt;
  }
  return data;
}

}  // namespace

SendmailError SendmailFailure(int code, const std::string& text) {
  return SendmailError{code, "dorvane-sendmail: " + text};
}

std::optional<SendmailError> ParseSendmailArgs(const std::vector<std::string>& args, SendmailOptions* options) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.size() < 2 || a[0] != '-') {
      options->recipients.push_back(a);
    } else if (a == "--") {
      options->recipients.insert(options->recipients.end(), args.begin() + static_cast<long>(i) + 1, args.end());
      break;
    } else if (a == "-t") {
      options->from_headers = true;
    } else if (a == "-i" || a == "-oi") {
      options->dot_ends_input = false;
    } else if (a[1] == 'f' || a[1] == 'r' || a[1] == 'F') {
      std::string& target = a[1] == 'F' ? options->full_name : options->sender;
      if (!OptionValue(args, &i, &target)) return SendmailFailure(kExitUsage, "option " + a + " needs a value" + kUsage);
    } else if (a == "-bp") {
      options->list_queue = true;
    } else if (a == "-bm") {
      // delivering the message on standard input is what it does anyway
    } else if (a == "-B") {
      ++i;  // its value goes with it
    } else if (a[1] != 'o' && a[1] != 'B') {
      return SendmailFailure(kExitUsage, "unknown option " + Printable(a) + kUsage);
    }
  }
  return std::nullopt;
}

bool CalledAsMailq(const std::string& argv0) {
  return argv0.substr(argv0.rfind('/') + 1) == "mailq";
}

std::string_view CutAtDotLine(std::string_view input, bool dot_ends_input) {
  if (!dot_ends_input) return input;
  for (size_t start = 0; start < input.size();) {
    std::string_view rest = input.substr(start);
    if (rest == "." || rest.substr(0, 2) == ".\n" || rest.substr(0, 3) == ".\r\n") return input.substr(0, start);
    size_t lf = input.find('\n', start);
    if (lf == std::string_view::npos) break;
    start = lf + 1;
  }
  return input;
}

std::optional<SendmailError> BuildSendmailMessage(const SendmailOptions& options, std::string_view text,
                                                  const SendmailContext& context, CMessage* message) {
  if (text.size() > kMaxMessageBytes) return SendmailFailure(kExitDataErr, "message too large (at most 64 MiB)");
  if (text.find('\0') != std::string_view::npos) return SendmailFailure(kExitDataErr, "the message holds a NUL byte");
  std::optional<std::string> sender =
      StoredAddress(options.sender.empty() ? context.login : options.sender, context.domain);
  if (!sender) return SendmailFailure(kExitUsage, "bad sender address: " + Printable(options.sender));
  Header header;
  if (!ReadHeader(text, &header)) return SendmailFailure(kExitDataErr, "header section too large (at most 1 MiB)");
  std::vector<std::string> rcpts{std::string()};
  if (auto error = CollectRecipients(options, header, context.domain, &rcpts)) return error;
  std::optional<std::string> data =
      StoredText(text, header, AddedFields(header.fields, *sender, options, context), options.from_headers);
  if (!data) return SendmailFailure(kExitDataErr, "message too large (at most 64 MiB)");
  *message = CMessage();
  message->From = *sender;
  message->Data = std::move(*data);
  message->TxtEng = SpoolWarningEnglish();
  message->TxtFr = SpoolWarningFrench();
  message->SetRcptToList(std::move(rcpts));
  return std::nullopt;
}

}  // namespace dorvane
