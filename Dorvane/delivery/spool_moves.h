// Moving queued messages between the spool folders. A message's folder is
// its state, so every move is one rename (never a copy and a delete) and
// every rewrite goes through CMessage::MWrite, which replaces the file in one
// step: a crash at any moment leaves each message whole in one folder, or
// briefly in two, never in none.
#pragma once

#include <functional>
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
  // Told of each file that this program puts in a spool folder: its folder
  // (kOutBox, ...) and name.
  using Arrival = std::function<void(const char* folder, const std::string& name)>;

  explicit SpoolMoves(Environment& env) : env_(env) {}

  // From now on every move, and every Announce, tells `arrival` (may be
  // empty) once the file is in place.
  void OnArrival(Arrival arrival) { arrival_ = std::move(arrival); }
  // Tells the arrival callback of a file written into `folder` in place
  // rather than moved there.
  void Announce(const char* folder, const std::string& name);

  // The queued messages of spool folder `folder` (kOutBox, ...), in the order
  // the file system lists them: regular files whose name is a spool name.
  // Sub-folders and staging files are skipped. A missing folder gives none.
  std::vector<std::string> Names(const char* folder);

  // Whether `folder`/`name` is a regular file.
  bool Exists(const char* folder, const std::string& name);

  // Modification time of `folder`/`name`; nullopt when it cannot be read
  // (the file has gone). With an empty `name`, the folder's own time, which
  // changes whenever a name comes into it or leaves it.
  std::optional<long long> Time(const char* folder, const std::string& name);

  // Renames `from`/`name` to `to`/`name` (replacing a file of that name) and
  // flushes both folders. RuntimeError when the rename fails.
  void Move(const std::string& name, const char* from, const char* to);
  // As Move, but a source that has gone (delivered, deleted by hand) is no
  // fault: false, and nothing is moved.
  bool MoveIfThere(const std::string& name, const char* from, const char* to);

  // Writes `message` as `folder`/`name` (replacing it in one step) and
  // announces it.
  void Write(const CMessage& message, const char* folder, const std::string& name);

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
  // The rename of Move; its errno, 0 when it is done (folders flushed,
  // arrival told).
  int Rename(const std::string& name, const char* from, const char* to);

  Environment& env_;
  Arrival arrival_;
};

}  // namespace dorvane
