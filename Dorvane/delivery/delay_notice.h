// The delay notice: tells the sender that a message will be retried later.
// It is queued as a new message while the delayed one waits in Deferred.
#pragma once

#include <string>

#include "delivery/notice_text.h"

namespace dorvane {

// The notice text for `message` (same three-part layout as the bounce,
// Action "delayed", the attempt number taken from message.Essai).
std::string DelayNoticeText(const ReportedMessage& message, const NoticeStamp& stamp);

}  // namespace dorvane
