// Moving queued messages between the spool folders. A message's folder is
// its state, so every move is one rename (never a copy and a delete) and
// every rewrite goes through CMessage::MWrite, which replaces the file in one
// step: a crash at any moment leaves each message whole in one folder, or
// briefly in two, never in none.
#pragma once

#include <string>
#include <vector>

namespace dorvane {

class CMessage;

// The queued messages of spool folder `folder` (kOutBox, ...), in the order
// the file system lists them: regular files whose name is a spool name.
// Sub-folders and staging files are skipped. A missing folder gives none.
std::vector<std::string> SpoolFileNames(const char* folder);

// Whether `folder`/`name` is a regular file.
bool SpoolFileExists(const char* folder, const std::string& name);

// Modification time of `folder`/`name` in seconds since the epoch; -1 when
// it cannot be read (the file has gone).
long long SpoolFileTime(const char* folder, const std::string& name);

// Renames `from`/`name` to `to`/`name` (replacing a file of that name) and
// flushes both folders. RuntimeError when the rename fails.
void MoveSpoolFile(const std::string& name, const char* from, const char* to);

// Removes `folder`/`name` when it is there. RuntimeError when it cannot.
void RemoveSpoolFile(const char* folder, const std::string& name);

// Rewrites `message` as OutBox/`name` with its current fields, then moves
// it to `to` (kDeferred or kError): the file that arrives carries the new
// Essai and LastError, and its modification time is now.
void FileFromOutBox(const CMessage& message, const std::string& name, const char* to);

// Moves a spool file that cannot be read as a message to Error and writes
// one error.txt line naming it and `why`, so that the queue goes on.
void PutAsideUnreadable(const char* folder, const std::string& name, const std::string& why);

}  // namespace dorvane
