// Queuing the local mail command's message: straight into OutBox, through
// the same staged, flushed write as the listener, with the outcome as the
// command's exit code.
#pragma once

#include <optional>

#include "service/sendmail_command.h"

namespace dorvane {

class Clock;
class Files;
class Logs;

// Writes `message` into the program folder's OutBox through `files`; on
// success every file is whole and on disk and `message.ID` names the first.
// Failures: 73 when OutBox is missing or cannot be written, 75 when the
// disk is full or a starting relay removed the staged file (nothing left
// behind in any case).
std::optional<SendmailError> QueueSendmailMessage(Files& files, Logs& logs, Clock& clock, CMessage& message);

}  // namespace dorvane
