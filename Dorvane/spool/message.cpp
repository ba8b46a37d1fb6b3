#include "spool/message.h"

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

#include "base/dates.h"
#include "base/runtime_error.h"
#include "log/logs.h"
#include "spool/message_format.h"
#include "spool/spool_file.h"

namespace dorvane {
namespace {

constexpr size_t kMaxListRecipients = 255;  // the count is an 8-bit value

// Room for every field but the text: the largest message the relay accepts
// and its header fit; anything larger was never written by it.
constexpr size_t kMaxSpoolFileBytes = kMaxMessageBytes + 1024 * 1024;

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

[[noreturn]] void RaiseTooLarge(const std::string& file) {
  Raise(kErrInputPastEnd, "CLS:CMessage[MOpen]", "Damaged spool file " + file + ": too large");
}

// The bytes of `file`, read only while they fit in a spool file: a huge file
// must not take its size in memory. Its size is checked before the first
// byte is read, and the reading stops past the limit if it grows meanwhile.
std::string ReadBounded(const std::string& file) {
  std::error_code ec;
  if (std::filesystem::file_size(file, ec) > kMaxSpoolFileBytes && !ec) RaiseTooLarge(file);
  std::ifstream in(file, std::ios::binary);
  std::string bytes;
  char chunk[64 * 1024];
  while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
    bytes.append(chunk, static_cast<size_t>(in.gcount()));
    if (bytes.size() > kMaxSpoolFileBytes) RaiseTooLarge(file);
  }
  if (in.bad()) Raise(kErrPermissionDenied, "CLS:CMessage[MOpen]", "Cannot read " + file);
  return bytes;
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

void CMessage::MOpen(const std::string& file) {
  DbgAdd("<FONT face='Verdana' size='2'>" + GMTDate() + ": Ouverture de " + file + "</FONT><BR>");
  if (!FileExists(file)) return;
  const std::string bytes = ReadBounded(file);
  std::string error;
  std::optional<CMessage> read = DecodeMessage(bytes, &error);
  if (!read) Raise(kErrInputPastEnd, "CLS:CMessage[MOpen]", "Damaged spool file " + file + ": " + error);
  *this = std::move(*read);
}

void CMessage::MWrite(const std::string& file) const {
  DbgAdd("<FONT face='Verdana' size='2'>" + GMTDate() + ": Ecriture de " + file + "</FONT><BR>");
  SpoolWriteBatch batch("CLS:CMessage[MWrite]");
  batch.Stage(file, EncodeMessage(*this));
  batch.Commit();
}

void CMessage::MClear() {
  From.clear();
  Data.clear();
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
