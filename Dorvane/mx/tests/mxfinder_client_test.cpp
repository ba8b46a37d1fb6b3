#include "mx/mxfinder_client.h"

#include <gtest/gtest.h>

#include "base/runtime_error.h"
#include "mx/mx_lookup.h"

namespace dorvane {
namespace {

// The library is built beside the test executable, as beside the program.
TEST(MxfinderClientTest, LoadsTheLibraryBesideTheExecutableAndReadsItsVersion) {
  MxfinderClient client;
  EXPECT_EQ("3.0", client.GetVer());
  EXPECT_EQ("3.0", client.GetVer()) << "each call has an object of its own";
}

// Asked directly, or through the lookup that loads the library itself.
TEST(MxfinderClientTest, ErrorInsideTheLibraryArrivesWithItsNumberAndSource) {
  MxfinderClient client;
  const MxLookup lookups[] = {[&client](std::string& domain, const std::string& server) {
                                return client.ResolveDnsQuery(domain, server);
                              },
                              LibraryMxLookup()};
  for (const MxLookup& lookup : lookups) {
    std::string domain = std::string(300, 'a') + ".test";
    try {
      lookup(domain, "127.0.0.1");
      ADD_FAILURE() << "no error";
    } catch (const RuntimeError& e) {
      EXPECT_EQ(6, e.number());
      EXPECT_EQ("CDnsMessage.ComposeQuery", e.source());
      EXPECT_EQ("Overflow", e.description());
    }
  }
}

TEST(MxfinderClientTest, MissingLibraryCannotBeCreated) {
  try {
    MxfinderClient client("/nonexistent/libMxfinder.so");
    FAIL() << "no error";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(429, e.number());
  }
}

}  // namespace
}  // namespace dorvane
