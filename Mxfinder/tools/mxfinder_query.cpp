// mxfinder-query DOMAIN SERVER: prints, on one line, what the resolver
// library beside this program answers for the MX records of DOMAIN at the
// DNS server SERVER. Kept to the component boundary, as the program uses it.
#include <dlfcn.h>

#include <QCoreApplication>
#include <cstdio>
#include <string>

#include "mxfinder_com.h"

namespace {

int Fail(const std::string& message) {
  std::fprintf(stderr, "mxfinder-query: %s\n", message.c_str());
  return 1;
}

// The resolver object of the library at `path`, or nullptr after a message.
CMxfinder* CreateResolver(const std::string& path) {
  void* library = dlopen(path.c_str(), RTLD_NOW);
  if (!library) return Fail(std::string("cannot load ") + dlerror()), nullptr;
  auto get = reinterpret_cast<MxDllGetClassObjectFn>(dlsym(library, "DllGetClassObject"));
  const MxGuid clsid = MX_CLSID_CMXFINDER_INIT, iid = MX_IID_CMXFINDER_INIT;
  const MxGuid iid_factory = MX_IID_ICLASSFACTORY_INIT;
  MxClassFactory* factory = nullptr;
  CMxfinder* resolver = nullptr;
  if (!get || get(&clsid, &iid_factory, reinterpret_cast<void**>(&factory)) != MX_S_OK) {
    return Fail(path + " has no resolver class"), nullptr;
  }
  factory->lpVtbl->CreateInstance(factory, nullptr, &iid, reinterpret_cast<void**>(&resolver));
  factory->lpVtbl->Release(factory);
  if (!resolver) Fail("cannot create the resolver object");
  return resolver;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: mxfinder-query DOMAIN SERVER\n");
    return 2;
  }
  QCoreApplication app(argc, argv);  // the resolver waits in this event loop
  std::string path = QCoreApplication::applicationDirPath().toStdString() + "/" MXFINDER_LIBRARY_NAME;
  CMxfinder* resolver = CreateResolver(path);
  if (!resolver) return 1;
  char* domain = nullptr;
  char* result = nullptr;
  MxErrorInfo error{};
  MxResult rc = resolver->lpVtbl->ResolveDnsQuery(resolver, argv[1], &domain, argv[2], &result, &error);
  if (rc != MX_S_OK) {
    resolver->lpVtbl->Release(resolver);
    return Fail("error " + std::to_string(error.number) + " (" + error.source + "): " + error.description);
  }
  std::printf("%s\n", result);
  resolver->lpVtbl->FreeString(resolver, domain);
  resolver->lpVtbl->FreeString(resolver, result);
  resolver->lpVtbl->Release(resolver);
  return 0;
}
