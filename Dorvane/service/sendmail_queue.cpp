#include "service/sendmail_queue.h"

#include <cerrno>

#include "base/files.h"
#include "base/program.h"
#include "base/runtime_error.h"
#include "spool/domain_split.h"
#include "spool/spool_file.h"

namespace dorvane {

namespace {

// Passes every call on and keeps the first error, so that a failed write
// tells a full disk (try later) from a folder that cannot be written.
class ErrorWatch final : public Files {
 public:
  explicit ErrorWatch(Files& inner) : inner_(inner) {}
  int first_error() const { return first_; }

  int WriteDurable(const std::string& p, std::string_view b) override { return Keep(inner_.WriteDurable(p, b)); }
  int Append(const std::string& p, std::string_view b) override { return Keep(inner_.Append(p, b)); }
  int Read(const std::string& p, std::string* b) override { return inner_.Read(p, b); }
  int Rename(const std::string& f, const std::string& t) override { return Keep(inner_.Rename(f, t)); }
  int Remove(const std::string& p) override { return inner_.Remove(p); }
  int SyncFolder(const std::string& f) override { return Keep(inner_.SyncFolder(f)); }
  std::vector<std::string> List(const std::string& f) override { return inner_.List(f); }
  bool IsFile(const std::string& p) override { return inner_.IsFile(p); }
  std::optional<std::time_t> ModifiedTime(const std::string& p) override { return inner_.ModifiedTime(p); }
  std::optional<uint64_t> FreeBytes(const std::string& f) override { return inner_.FreeBytes(f); }
  int ReadAtMost(const std::string& p, size_t l, std::string* b) override { return inner_.ReadAtMost(p, l, b); }
  bool Exists(const std::string& p) override { return inner_.Exists(p); }

 private:
  int Keep(int error) {
    if (first_ == 0) first_ = error;
    return error;
  }
  Files& inner_;
  int first_ = 0;
};

}  // namespace

std::optional<SendmailError> QueueSendmailMessage(Files& files, Logs& logs, Clock& clock, CMessage& message) {
  std::string outbox = ProgramPath(kOutBox);
  if (!files.Exists(outbox)) return SendmailFailure(kExitCantCreat, "cannot queue the message: " + outbox + " is missing");
  if (!OutBoxHasRoom(files, message))
    return SendmailFailure(kExitTempFail, "not enough disk space in " + outbox + ", try later");
  ErrorWatch watch(files);
  try {
    QueueInOutBox(watch, logs, clock, message);
  } catch (const RuntimeError& e) {
    // A relay that starts meanwhile removes the staging files it finds, ours
    // too: the rename then finds nothing, and a new try will do.
    int error = watch.first_error();
    bool later = error == ENOSPC || error == EDQUOT || error == ENOENT;
    return SendmailFailure(later ? kExitTempFail : kExitCantCreat,
                           "cannot queue the message: " + e.description() + (later ? ", try later" : ""));
  }
  return std::nullopt;
}

}  // namespace dorvane
