// The queue listing as text: one tab-separated line per message for
// people, or a JSON array for scripts. Every field read from a spool file
// came from a peer, so nothing of it reaches the terminal or the JSON
// unescaped.
#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "spool/queue_listing.h"

namespace dorvane {

// `when` as ISO 8601 UTC: "2026-12-10T00:07:16Z".
std::string IsoUtc(std::time_t when);

// `bytes` safe for a terminal line: valid UTF-8 printable text stays,
// backslash, tab, control bytes (C0, DEL, C1) and bytes of no valid UTF-8
// sequence become "\xNN".
std::string TerminalSafe(std::string_view bytes);

// `bytes` as a JSON string, quotes included: valid UTF-8 stays (controls
// escaped); a byte of no valid sequence is taken as the Latin-1 character
// of its value, so the output is always valid JSON.
std::string JsonString(std::string_view bytes);

// Per message: id, folder, size, arrival, sender, recipients (comma-
// separated), attempts and next try ("-" when none), tab-separated; a
// damaged file: id, folder, "damaged".
std::string QueueLines(const std::vector<QueueEntry>& entries);

// A JSON array of one object per message with the same fields ("recipients"
// an array, "next_try" null when none, "damaged" true or false).
std::string QueueJson(const std::vector<QueueEntry>& entries);

}  // namespace dorvane
