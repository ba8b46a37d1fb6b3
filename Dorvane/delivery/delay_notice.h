// The delay notice: tells the sender that a message will be retried later.
// It is queued as a new message while the delayed one waits in Deferred.
#pragma once

#include <string>

#include "delivery/notice_text.h"

namespace dorvane {

// The notice text for `message` (same three-part layout as the bounce,
// Action "delayed", the attempt number taken from message.Essai).
std::string DelayNoticeText(const ReportedMessage& message, const NoticeStamp& stamp);

struct Environment;

// Queues a delay notice for the OutBox message `file` (a name, no folder)
// under a fresh name in OutBox, then removes `file` from OutBox; the caller
// has already written the delayed message to Deferred. The notice is on
// disk before the OutBox copy goes, so a crash never loses the message.
// Returns the notice's name. Guarded ("CLS:GENERATEDEFERREDMAIL[GenerateDeferred]").
std::string GenerateDeferred(Environment& env, const std::string& file);

}  // namespace dorvane
