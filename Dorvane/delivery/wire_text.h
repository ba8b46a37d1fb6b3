// Message text as it goes after DATA. Stored messages keep the form their
// client sent (lines already dot-stuffed) and are sent as stored, so they
// are checked first; texts the relay writes itself are put into that form.
// Either way no content can end the text early and leave the rest of it
// to run as commands.
#pragma once

#include <string>

namespace dorvane {

// Whether stored text can be sent as it is, followed by CR LF "." CR LF:
// CR LF line ends only, and no line that is "." alone.
bool IsWireSafe(const std::string& data);

// Text of the relay's own in wire form: every line end (CR LF, a bare CR
// or LF) becomes CR LF, a line that starts with "." gets a second one, and
// the last line is ended too. An empty text is one empty line.
std::string ToWireLines(const std::string& text);

}  // namespace dorvane
