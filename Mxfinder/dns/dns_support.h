// Domain names on the wire (RFC 1035 section 4.1.4).
#pragma once

#include <cstddef>
#include <string>

namespace mxfinder {

// The longest chain of compression pointers one name may follow. A real name
// has at most one pointer per label, and a name has fewer than 128 labels.
inline constexpr int kMaxCompressionHops = 128;

// The longest name text a caller may trust. A decoded name beyond it is cut
// to kMaxNameLength + 1 bytes, so the caller can tell it from a valid one
// while no hostile pointer chain makes the decoder hold more.
inline constexpr std::size_t kMaxNameLength = 255;

// Reads the domain name at `position` of the message `data`, following
// compression pointers, and moves `position` past the name as it is stored
// there (past the zero byte, or past the two bytes of a pointer). Labels are
// joined with "."; the root name is "". A pointer must point before the
// start of the name segment that holds it, and at most kMaxCompressionHops
// pointers are followed, so a hostile name can neither loop nor read ahead.
// A name longer than kMaxNameLength comes back cut to kMaxNameLength + 1
// bytes (the pointers past the cut are not followed).
// Throws ComponentError: 9 for a read past the data or a bad pointer, 6 for
// a position beyond 32767.
std::string GetLabelsByPosition(const std::string& data, int& position);

// Reads a name made of plain labels only, without following compression
// pointers (a byte of 192 or more is taken as a label length), as questions
// are read. Moves `position` past the zero byte. Errors as above, with
// `source` as their source.
std::string ReadPlainName(const std::string& data, int& position, const char* source);

}  // namespace mxfinder
