// Addresses and the splitting of a message by recipient domain: a message
// whose recipients are in several domains is queued as one spool file per
// domain, so each file has one route.
#pragma once

#include <string>
#include <vector>

#include "spool/message.h"

namespace dorvane {

class Clock;
class Files;
class Logs;

// The domain of an address as stored ("<a@b.c>" -> "b.c"): the text after
// the first "@" without its last character. RuntimeError 5 without "@".
std::string GetDomain(const std::string& address);

// The recipients of `message` grouped by domain: one group per distinct
// domain, in the order the domains first appear, each holding its
// recipients in their original order.
std::vector<std::vector<std::string>> GroupRcptToByDomain(const CMessage& message);

// Queues `message` in OutBox through `files` as one file per recipient
// domain: group g gets a fresh name (drawn from `clock`) + "-" + g and
// copies of every field but the recipients; each writing is noted in the
// debug log of `logs`. The files appear all together or not at all
// (RuntimeError on failure). Returns the IDs written, in group order.
std::vector<std::string> WriteSplitByDomain(Files& files, Logs& logs, Clock& clock, const CMessage& message);

// Whether OutBox has room, through `files`, for `message` in all the files
// QueueInOutBox makes of it, with a margin; true when the free space cannot
// be told (the write itself then decides).
bool OutBoxHasRoom(Files& files, const CMessage& message);

// Queues `message` in OutBox as a newly received message is queued: one
// file under a fresh name (set as its ID) for a single recipient, split by
// domain otherwise. Whole and on disk when it returns; RuntimeError on
// failure, with nothing left behind. Returns the names written.
std::vector<std::string> QueueInOutBox(Files& files, Logs& logs, Clock& clock, CMessage& message);

}  // namespace dorvane
