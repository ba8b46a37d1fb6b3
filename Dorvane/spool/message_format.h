// The byte layout of a spool file: the fields of CMessage one after the
// other, no padding, integers little-endian. A text is a 16-bit length and
// its bytes; a text of 65,535 bytes or more is the length FFFF followed by a
// 32-bit length. A boolean is 0000 or FFFF. The recipient list is a 16-bit
// dimension count (1), a 32-bit element count, a 32-bit lower bound (0) and
// the elements as texts, starting with the empty element 0.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "spool/message.h"

namespace dorvane {

// The file bytes of `message`.
std::string EncodeMessage(const CMessage& message);

// The message held by `bytes`, or nullopt when they are not exactly one
// well-formed record (truncated, trailing bytes, bad list header, more than
// 255 recipients); `error` then says what is wrong. Never reads outside
// `bytes`.
std::optional<CMessage> DecodeMessage(std::string_view bytes, std::string* error = nullptr);

}  // namespace dorvane
