// Moving queued messages between the spool folders. A message's folder is
// its state, so every move is one rename (never a copy and a delete) and
// every rewrite goes through CMessage::MWrite, which replaces the file in one
// step: a crash at any moment leaves each message whole in one folder, or
// briefly in two, never in none.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace dorvane {

class CMessage;
struct Environment;

// The spool folders as the delivery side sees them, through the
// environment's file system; failures to move raise RuntimeError
// ("MOD:MODULE[SpoolMove]").
class SpoolMoves {
 public:
  explicit SpoolMoves(Environment& env) : env_(env) {}

  // The queued messages of spool folder `folder` (kOutBox, ...), in the order
  // the file system lists them: regular files whose name is a spool name.
  // Sub-folders and staging files are skipped. A missing folder gives none.
  std::vector<std::string> Names(const char* folder);

  // Whether `folder`/`name` is a regular file.
  bool Exists(const char* folder, const std::string& name);

  // Modification time of `folder`/`name`; nullopt when it cannot be read
  // (the file has gone).
  std::optional<long long> Time(const char* folder, const std::string& name);

  // Renames `from`/`name` to `to`/`name` (replacing a file of that name) and
  // flushes both folders. RuntimeError when the rename fails.
  void Move(const std::string& name, const char* from, const char* to);

  // Removes `folder`/`name` when it is there. RuntimeError when it cannot.
  void Remove(const char* folder, const std::string& name);

  // Rewrites `message` as OutBox/`name` with its current fields, then moves
  // it to `to` (kDeferred or kError): the file that arrives carries the new
  // Essai and LastError, and its modification time is now.
  void FileFromOutBox(const CMessage& message, const std::string& name, const char* to);

  // Moves a spool file that cannot be read as a message to Error and writes
  // one error.txt line naming it and `why`, so that the queue goes on.
  void PutAsideUnreadable(const char* folder, const std::string& name, const std::string& why);

 private:
  void FlushFolder(const char* folder);

  Environment& env_;
};

}  // namespace dorvane
