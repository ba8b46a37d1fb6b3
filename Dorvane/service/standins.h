// STAND-IN, to be deleted when the resolver library's client lands: reads
// GetVer through the library's component boundary.
#pragma once

#include <string>

namespace dorvane {

// Throws RuntimeError 429 when the library or its object cannot be created.
std::string MxfinderVersionStandIn();

}  // namespace dorvane
