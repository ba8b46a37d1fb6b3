#include "mx/mxfinder_client.h"

#include <dlfcn.h>

#include <cstdlib>
#include <fstream>
#include <memory>

#include "base/program.h"
#include "base/runtime_error.h"

namespace dorvane {
namespace {

constexpr long kErrCannotCreate = 429;  // "ActiveX component can't create object"
const char kSource[] = "MxfinderClient";

// The library stays loaded for the life of the process: it runs Qt objects
// of its own, which must not vanish under the event loop.
MxDllGetClassObjectFn Load(const std::string& path) {
  void* library = dlopen(path.c_str(), RTLD_NOW);
  if (!library) return nullptr;
  return reinterpret_cast<MxDllGetClassObjectFn>(dlsym(library, "DllGetClassObject"));
}

std::string RegisteredPath() {
  std::ifstream in(MxfinderRegistrationFile());
  std::string path;
  std::getline(in, path);
  return path;
}

// Releases an object and frees its texts when the call is over.
struct Call {
  CMxfinder* object;
  char* first = nullptr;
  char* second = nullptr;
  ~Call() {
    object->lpVtbl->FreeString(object, first);
    object->lpVtbl->FreeString(object, second);
    object->lpVtbl->Release(object);
  }
  void Check(MxResult result, const MxErrorInfo& error) const {
    if (result == MX_DISP_E_EXCEPTION) Raise(error.number, error.source, error.description);
    if (result != MX_S_OK) Raise(result, kSource, "Automation error");
  }
};

}  // namespace

std::string MxfinderRegistrationFile() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  std::string base = xdg && *xdg ? xdg : std::string(home ? home : "/tmp") + "/.config";
  return base + "/" MXFINDER_REGISTRATION_FILE;
}

MxfinderClient::MxfinderClient() {
  get_class_object_ = Load(ExecutableFolder() + MXFINDER_LIBRARY_NAME);
  if (!get_class_object_) get_class_object_ = Load(InstalledLibraryFolder() + MXFINDER_LIBRARY_NAME);
  if (!get_class_object_) get_class_object_ = Load(RegisteredPath());
  if (!get_class_object_) Raise(kErrCannotCreate, kSource, "Cannot load " MXFINDER_LIBRARY_NAME);
}

MxfinderClient::MxfinderClient(const std::string& library_path) : get_class_object_(Load(library_path)) {
  if (!get_class_object_) Raise(kErrCannotCreate, kSource, "Cannot load " + library_path);
}

CMxfinder* MxfinderClient::Create() const {
  const MxGuid clsid = MX_CLSID_CMXFINDER_INIT, iid = MX_IID_CMXFINDER_INIT;
  const MxGuid iid_factory = MX_IID_ICLASSFACTORY_INIT;
  void* factory_out = nullptr;
  if (get_class_object_(&clsid, &iid_factory, &factory_out) != MX_S_OK) {
    Raise(kErrCannotCreate, kSource, "No CMxfinder class in the library");
  }
  auto* factory = static_cast<MxClassFactory*>(factory_out);
  void* object = nullptr;
  MxResult result = factory->lpVtbl->CreateInstance(factory, nullptr, &iid, &object);
  factory->lpVtbl->Release(factory);
  if (result != MX_S_OK) Raise(kErrCannotCreate, kSource, "Cannot create a CMxfinder object");
  return static_cast<CMxfinder*>(object);
}

std::string MxfinderClient::GetVer() const {
  Call call{Create()};
  MxErrorInfo error{};
  call.Check(call.object->lpVtbl->GetVer(call.object, &call.first, &error), error);
  return call.first ? call.first : "";
}

std::string MxfinderClient::ResolveDnsQuery(std::string& domain, const std::string& server) const {
  Call call{Create()};
  MxErrorInfo error{};
  call.Check(call.object->lpVtbl->ResolveDnsQuery(call.object, domain.c_str(), &call.first, server.c_str(),
                                                   &call.second, &error),
             error);
  // A library that reports success without a text gives nothing, not a
  // crash.
  if (call.first) domain = call.first;
  return call.second ? call.second : "";
}

}  // namespace dorvane
