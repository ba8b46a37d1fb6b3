#include "spool/message.h"

#include "base/dates.h"
#include "base/files.h"
#include "base/runtime_error.h"
#include "log/logs.h"
#include "spool/message_format.h"
#include "spool/spool_file.h"

namespace dorvane {
namespace {

constexpr size_t kMaxListRecipients = 255;  // the count is an 8-bit value

[[noreturn]] void RaiseTooLarge(const std::string& file) {
  Raise(kErrInputPastEnd, "CLS:CMessage[MOpen]", "Damaged spool file " + file + ": too large");
}

// The bytes of `file`, read only while they fit in a spool file: a huge file
// must not take its size in memory.
std::string ReadBounded(Files& files, const std::string& file) {
  std::string bytes;
  if (files.ReadAtMost(file, kMaxSpoolFileBytes, &bytes) != 0)
    Raise(kErrPermissionDenied, "CLS:CMessage[MOpen]", "Cannot read " + file);
  if (bytes.size() > kMaxSpoolFileBytes) RaiseTooLarge(file);
  return bytes;
}

std::string DebugLine(const std::string& what, const std::string& file) {
  return "<FONT face='Verdana' size='2'>" + GMTDate() + ": " + what + " " + file + "</FONT><BR>";
}

}  // namespace

std::string SpoolWarningEnglish() { return "\r\n==> DO NOT ALTER THIS FILE !\r\n"; }
std::string SpoolWarningFrench() { return "\r\n==> NE PAS MODIFIER CE FICHIER !\r\n"; }

CMessage::CMessage() : rcpt_to_(1) {}

const std::string& CMessage::RcptTo(int index) const {
  if (index < 0 || static_cast<size_t>(index) >= rcpt_to_.size())
    Raise(kErrSubscript, "CLS:CMessage[RcptTo]", ErrorDescription(kErrSubscript));
  return rcpt_to_[index];
}

void CMessage::SetRcptTo(int index, const std::string& rcpt) {
  RcptTo(index);  // range check
  rcpt_to_[index] = rcpt;
}

void CMessage::SetRcptToList(std::vector<std::string> list) {
  if (list.empty() || list.size() > kMaxListRecipients + 1)
    Raise(kErrOverflow, "CLS:CMessage[RcptTo]", ErrorDescription(kErrOverflow));
  rcpt_to_ = std::move(list);
}

void CMessage::MOpen(Files& files, Logs& logs, const std::string& file) {
  if (logs.DebugOn()) logs.DbgAdd(DebugLine("Ouverture de", file));
  if (!files.IsFile(file)) return;
  const std::string bytes = ReadBounded(files, file);
  std::string error;
  std::optional<CMessage> read = DecodeMessage(bytes, &error);
  if (!read) Raise(kErrInputPastEnd, "CLS:CMessage[MOpen]", "Damaged spool file " + file + ": " + error);
  *this = std::move(*read);
}

void CMessage::MWrite(Files& files, Logs& logs, const std::string& file) const {
  if (logs.DebugOn()) logs.DbgAdd(DebugLine("Ecriture de", file));
  SpoolWriteBatch batch(files, "CLS:CMessage[MWrite]");
  batch.Stage(file, EncodeMessage(*this));
  batch.Commit();
}

void CMessage::MClear() {
  From.clear();
  std::string().swap(Data);  // clear() would keep up to twice the largest message
  LastError.clear();
  Essai = 0;
  rcpt_to_.assign(1, std::string());
}

uint8_t CMessage::MRcptToCount() const { return static_cast<uint8_t>(rcpt_to_.size() - 1); }

void CMessage::AddRcptTo(const std::string& rcpt) {
  if (rcpt_to_.size() > kMaxListRecipients)
    Raise(kErrOverflow, "CLS:CMessage[AddRcptTo]", ErrorDescription(kErrOverflow));
  rcpt_to_.push_back(rcpt);
}

void CMessage::OneRcptTo() { rcpt_to_.assign(2, std::string()); }

}  // namespace dorvane
