// Ports for tests that listen or connect on loopback.
#pragma once

namespace dorvane {

// A TCP port of 127.0.0.1 that nothing listens on at the time of the call
// (bound, then released), no higher than `highest` (ListenPort holds
// 32767 at most). Throws std::runtime_error when none is found in a bounded
// number of tries.
int FreeLoopbackPort(int highest = 65535);

}  // namespace dorvane
