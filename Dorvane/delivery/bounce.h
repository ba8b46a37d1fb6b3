// The bounce: the non-delivery report that replaces a message that finally
// failed, addressed to its sender.
#pragma once

#include <string>

#include "delivery/notice_text.h"

namespace dorvane {

// The report text for `message` (three MIME parts; the failed message
// returned whole as the third).
std::string BounceText(const ReportedMessage& message, const NoticeStamp& stamp);

}  // namespace dorvane
