#include "spool/queue_listing.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/files.h"
#include "base/program.h"
#include "base/runtime_error.h"
#include "config/configuration.h"
#include "config/settings_table.h"
#include "spool/message.h"
#include "spool/message_format.h"
#include "spool/queue_format.h"
#include "spool/spool_file.h"

namespace dorvane {
namespace {

const char* const kFolders[] = {kOutBox, kDeferred, kError};

// The entry of `folder`/`id`; nullopt when the file is gone.
std::optional<QueueEntry> ReadEntry(Files& files, const char* folder, const std::string& id, int deferral_minutes) {
  const std::string path = SpoolPath(folder, id);
  QueueEntry entry;
  entry.id = id;
  entry.folder = folder;
  entry.arrival = files.ModifiedTime(path);
  std::string bytes;
  int err = files.ReadAtMost(path, kMaxSpoolFileBytes, &bytes);
  if (err == ENOENT) return std::nullopt;
  std::optional<CMessage> message;
  if (err == 0 && bytes.size() <= kMaxSpoolFileBytes) message = DecodeMessage(bytes);
  if (!message) {
    entry.damaged = true;
    return entry;
  }
  entry.size = bytes.size();
  entry.sender = message->From;
  const std::vector<std::string>& list = message->RcptToList();
  entry.recipients.assign(list.begin() + 1, list.end());
  entry.attempts = message->Essai;
  if (entry.folder == kDeferred && entry.arrival) entry.next_try = *entry.arrival + deferral_minutes * 60;
  return entry;
}

// The folder of the three holding `id`, or nullptr.
const char* FolderOf(Files& files, const std::string& id) {
  for (const char* folder : kFolders)
    if (files.IsFile(SpoolPath(folder, id))) return folder;
  return nullptr;
}

QueueChange Fail(QueueChange change, std::string* error, const std::string& why) {
  *error = why;
  return change;
}

QueueChange BadId(const std::string& id, std::string* error) {
  return Fail(QueueChange::BadId, error, "not a message ID: " + TerminalSafe(id));
}

}  // namespace

int QueueDeferralMinutes(Files& files) {
  // A file missing, or one the relay would refuse too: the default.
  std::optional<CConfiguration> config = ReadProgramConf(files);
  const SettingInfo& delay = *FindSetting("AttemptDelay");
  if (!config || !config->AttemptDelayDefined) {
    config = CConfiguration();
    SetSettingValue(*config, delay, delay.default_text);
  }
  return EffectiveAttemptDelay(*config);
}

std::vector<QueueEntry> ListQueue(Files& files, int deferral_minutes) {
  std::vector<QueueEntry> entries;
  for (const char* folder : kFolders) {
    std::vector<std::string> names = files.List(SpoolPath(folder, ""));
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
      if (!IsSpoolFileName(name)) continue;
      if (auto entry = ReadEntry(files, folder, name, deferral_minutes)) entries.push_back(std::move(*entry));
    }
  }
  return entries;
}

bool IsPlainSpoolId(const std::string& id) {
  if (id.empty() || id.size() > 255 || id[0] == '.') return false;
  return std::none_of(id.begin(), id.end(),
                      [](char c) { return c == '/' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

QueueChange RetryMessage(Files& files, const std::string& id, std::string* error) {
  if (!IsPlainSpoolId(id)) return BadId(id, error);
  const char* from = FolderOf(files, id);
  if (from == nullptr || from == kOutBox)
    return Fail(QueueChange::NotFound, error, "no message " + TerminalSafe(id) + " in Deferred or Error");
  if (int err = files.Rename(SpoolPath(from, id), SpoolPath(kOutBox, id)))
    return Fail(err == ENOENT ? QueueChange::NotFound : QueueChange::Failed, error,
                "cannot move " + TerminalSafe(id) + " to OutBox: " + std::strerror(err));
  // The rename is done either way; a failed flush only risks it on a crash.
  int err = files.SyncFolder(SpoolPath(kOutBox, ""));
  if (err == 0) err = files.SyncFolder(SpoolPath(from, ""));
  if (err != 0) return Fail(QueueChange::Failed, error, "moved " + TerminalSafe(id) + " but cannot flush: " + std::strerror(err));
  return QueueChange::Done;
}

QueueChange DeleteMessage(Files& files, const std::string& id, std::string* error) {
  if (!IsPlainSpoolId(id)) return BadId(id, error);
  // Two passes: the relay may move the message to another folder meanwhile.
  for (int pass = 0; pass < 2; ++pass) {
    for (const char* folder : kFolders) {
      int err = files.Remove(SpoolPath(folder, id));
      if (err == 0) return QueueChange::Done;
      if (err != ENOENT) return Fail(QueueChange::Failed, error, "cannot delete " + TerminalSafe(id) + ": " + std::strerror(err));
    }
  }
  return Fail(QueueChange::NotFound, error, "no message " + TerminalSafe(id) + " in the queue");
}

int RunQueueCommand(Files& files, const std::string& command, const std::string& id, bool json,
                    std::string* out, std::string* error) {
  if (command == "queue") {
    std::vector<QueueEntry> entries = ListQueue(files, QueueDeferralMinutes(files));
    *out = json ? QueueJson(entries) : QueueLines(entries);
    return 0;
  }
  std::string why;
  QueueChange change = command == "retry" ? RetryMessage(files, id, &why) : DeleteMessage(files, id, &why);
  if (change == QueueChange::Done) return 0;
  *error = why + "\n";
  return 1;
}

}  // namespace dorvane
