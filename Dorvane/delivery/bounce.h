// The bounce: the non-delivery report that replaces a message that finally
// failed, addressed to its sender.
#pragma once

#include <string>

#include "delivery/notice_text.h"

namespace dorvane {

// The report text for `message` (three MIME parts; the failed message
// returned whole as the third).
std::string BounceText(const ReportedMessage& message, const NoticeStamp& stamp);

struct Environment;

// Replaces the OutBox message `file` (a name, no folder), which the caller
// has just written with its LastError, by its bounce under the same name.
// The file is rewritten in one atomic step. Guarded: an error (a missing or
// unwritable file) ends the program ("CLS:CLASS[GenerateError]").
void GenerateError(Environment& env, const std::string& file);

}  // namespace dorvane
