#include "qt/ssl_library.h"

#include <dlfcn.h>

#include <string>

namespace dorvane {
namespace {

// Fills `calls` from `library`; false when one is missing.
bool FindCalls(void* library, SslCalls& calls) {
  bool complete = true;
#define DORVANE_SSL_FIND(name) \
  complete = (calls.name = reinterpret_cast<decltype(calls.name)>(dlsym(library, #name))) != nullptr && complete;
  DORVANE_SSL_CALLS(DORVANE_SSL_FIND)
#undef DORVANE_SSL_FIND
  return complete;
}

}  // namespace

const SslCalls* SslLibrary() {
  static SslCalls calls;
  static bool loaded = false;
  if (loaded) return &calls;
  // The major version of the headers names the library with that interface.
  std::string soname = "libssl.so." + std::to_string(OPENSSL_VERSION_MAJOR);
  void* library = dlopen(soname.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) return nullptr;
  loaded = FindCalls(library, calls);
  return loaded ? &calls : nullptr;
}

}  // namespace dorvane
