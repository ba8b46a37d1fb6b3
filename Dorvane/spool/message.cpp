#include "spool/message.h"

#include <fstream>
#include <iterator>
#include <sys/stat.h>

#include "log/dates.h"
#include "log/logs.h"
#include "log/runtime_error.h"
#include "spool/message_format.h"
#include "spool/spool_file.h"

namespace dorvane {
namespace {

constexpr size_t kMaxRecipients = 255;  // the count is an 8-bit value

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
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
  if (list.empty() || list.size() > kMaxRecipients + 1)
    Raise(kErrOverflow, "CLS:CMessage[RcptTo]", ErrorDescription(kErrOverflow));
  rcpt_to_ = std::move(list);
}

void CMessage::MOpen(const std::string& file) {
  DbgAdd("<FONT face='Verdana' size='2'>" + GMTDate() + ": Ouverture de " + file + "</FONT><BR>");
  if (!FileExists(file)) return;
  std::ifstream in(file, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) Raise(kErrPermissionDenied, "CLS:CMessage[MOpen]", "Cannot read " + file);
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
  if (rcpt_to_.size() > kMaxRecipients)
    Raise(kErrOverflow, "CLS:CMessage[AddRcptTo]", ErrorDescription(kErrOverflow));
  rcpt_to_.push_back(rcpt);
}

void CMessage::OneRcptTo() { rcpt_to_.assign(2, std::string()); }

}  // namespace dorvane
