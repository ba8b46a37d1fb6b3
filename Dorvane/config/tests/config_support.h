// Shared by the configuration module's tests.
#pragma once

#include <string>

namespace dorvane {

// Points the network discovery at a resolver file of the test folder that
// names one loopback server, so defaults do not depend on the machine.
void UseLoopbackResolver(const std::string& folder);

// Points the network discovery back at the system's file.
void UseSystemResolver();

}  // namespace dorvane
