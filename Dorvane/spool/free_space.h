// How much room the spool has: the free space of the file system that holds
// a folder, as an unprivileged process may use it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace dorvane {

// Room a message of `text_bytes` needs in OutBox when it is written as
// `files` spool files: its size times the number of files, plus a 10 MB
// margin so the logs and the other writers are not starved.
uint64_t SpoolBytesNeeded(uint64_t text_bytes, size_t files);

}  // namespace dorvane
