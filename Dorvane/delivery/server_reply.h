// Replies of an exchanger as the client session reads them. Bytes arrive
// in pieces, a reply may span several lines ("250-..." then "250 ..."), and
// every byte comes from a peer that may be hostile: a reply acts only once
// it is complete, and what is kept of it is one clean, bounded line.
#pragma once

#include <cstddef>
#include <string>

namespace dorvane {

// Bytes held for one unfinished reply before it is taken as it is.
constexpr size_t kMaxReplyBytes = 64 * 1024;
// Bytes of a reply kept as a reason (logs, LastError, notices).
constexpr size_t kMaxReasonBytes = 512;

// Collects the bytes of one session until a whole reply is there.
class ReplyBuffer {
 public:
  // Appends received bytes.
  void Add(const std::string& bytes);
  // Takes the first complete reply: its lines up to and including the first
  // one that is not a continuation ("ddd-"), line ends kept. Once more than
  // kMaxReplyBytes wait without a complete reply, they are taken whole (a
  // reply that fits no state). False when no reply is complete yet.
  bool Take(std::string* reply);
  // Forgets everything (a new connection).
  void Clear() { bytes_.clear(); }

 private:
  std::string bytes_;
};

// The code of a complete reply: the first three characters of its last
// line when they are digits, otherwise "" (matches no state).
std::string ReplyCode(const std::string& reply);

// A reply as a reason kept in logs and spool files: its first line without
// any control character (below 0x20, and 0x7F), at most kMaxReasonBytes.
std::string ReplyReason(const std::string& reply);

}  // namespace dorvane
