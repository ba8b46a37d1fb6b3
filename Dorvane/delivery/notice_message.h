// Between a queued message and a notification about it: the fields the
// notice texts are built from, and the message turned into a notice for its
// sender.
#pragma once

#include <string>

#include "delivery/notice_text.h"

namespace dorvane {

class CMessage;
class Files;
class Logs;

// The OutBox message `file` (a name, no folder). A missing file throws
// RuntimeError 53 with `source`; a damaged one whatever MOpen throws.
CMessage LoadOutBoxMessage(Files& files, Logs& logs, const std::string& file, const std::string& source);

// The fields of `message` that a notice reports on.
ReportedMessage ReportedFrom(const CMessage& message);

// Makes `message` a notice for its own sender: Data = `text`, a single
// recipient (its From), Essai 0, ForSender true; the other fields stay.
void TurnIntoNotice(CMessage& message, std::string text);

}  // namespace dorvane
