// The library's component exports: the class factory for CMxfinder and the
// four entry points the program finds with dlsym.
#include <dlfcn.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>

#include "mxfinder_com.h"
#include "resolver/component_error.h"
#include "resolver/mxfinder.h"

#define MX_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

const MxGuid kClsid = MX_CLSID_CMXFINDER_INIT;
const MxGuid kIid = MX_IID_CMXFINDER_INIT;
const MxGuid kIidFactory = MX_IID_ICLASSFACTORY_INIT;
const MxGuid kIidUnknown = MX_IID_IUNKNOWN_INIT;

std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};

bool SameGuid(const MxGuid* a, const MxGuid& b) { return a && std::memcmp(a, &b, sizeof b) == 0; }

char* CopyString(const std::string& s) {
  char* out = static_cast<char*>(std::malloc(s.size() + 1));
  if (out) std::memcpy(out, s.c_str(), s.size() + 1);
  return out;
}

void FillError(MxErrorInfo* error, long number, const std::string& source, const std::string& text) {
  if (!error) return;
  error->number = static_cast<int32_t>(number);
  std::snprintf(error->source, sizeof error->source, "%s", source.c_str());
  std::snprintf(error->description, sizeof error->description, "%s", text.c_str());
}

// Runs body, turning any exception into MX_DISP_E_EXCEPTION with `error`.
template <class F>
MxResult Guarded(MxErrorInfo* error, const char* source, F&& body) {
  try {
    return body();
  } catch (const mxfinder::ComponentError& e) {
    FillError(error, e.number(), e.source(), e.description());
  } catch (const std::bad_alloc&) {
    FillError(error, 7, source, "Out of memory");
  } catch (const std::exception& e) {
    FillError(error, 5, source, e.what());
  } catch (...) {
    FillError(error, 5, source, "Invalid procedure call or argument");
  }
  return MX_DISP_E_EXCEPTION;
}

struct Object {
  CMxfinder base;
  std::atomic<uint32_t> refs{1};
  mxfinder::CMxfinder impl;
};

Object* Self(CMxfinder* self) { return reinterpret_cast<Object*>(self); }

MxResult ObjQueryInterface(CMxfinder* self, const MxGuid* iid, void** out);
uint32_t ObjAddRef(CMxfinder* self) { return ++Self(self)->refs; }
uint32_t ObjRelease(CMxfinder* self) {
  uint32_t left = --Self(self)->refs;
  if (left == 0) {
    delete Self(self);
    --g_objects;
  }
  return left;
}

MxResult ObjGetVer(CMxfinder* self, char** version, MxErrorInfo* error) {
  if (!self || !version) return MX_E_POINTER;
  return Guarded(error, "CMxfinder.GetVer", [&] {
    *version = CopyString(Self(self)->impl.GetVer());
    return *version ? MX_S_OK : MX_E_OUTOFMEMORY;
  });
}

MxResult ObjResolve(CMxfinder* self, const char* domain_in, char** domain_out,
                    const char* dns_server, char** result, MxErrorInfo* error) {
  if (!self || !domain_in || !dns_server || !result) return MX_E_POINTER;
  // The wait runs the caller's events, which may release the caller's
  // reference: hold one of our own until the call is over.
  ObjAddRef(self);
  MxResult result_code = Guarded(error, "CMxfinder.ResolveDnsQuery", [&] {
    std::string domain = domain_in;
    std::string text = Self(self)->impl.ResolveDnsQuery(domain, dns_server);
    *result = CopyString(text);
    if (domain_out) *domain_out = CopyString(domain);
    return *result ? MX_S_OK : MX_E_OUTOFMEMORY;
  });
  ObjRelease(self);
  return result_code;
}

void ObjFreeString(CMxfinder*, char* text) { std::free(text); }

const CMxfinderVtbl kObjectVtbl = {ObjQueryInterface, ObjAddRef, ObjRelease,
                                   ObjGetVer,         ObjResolve, ObjFreeString};

MxResult ObjQueryInterface(CMxfinder* self, const MxGuid* iid, void** out) {
  if (!out) return MX_E_POINTER;
  *out = nullptr;
  if (!SameGuid(iid, kIid) && !SameGuid(iid, kIidUnknown)) return MX_E_NOINTERFACE;
  ObjAddRef(self);
  *out = self;
  return MX_S_OK;
}

// The class factory is a single static object; its reference count only
// guards DllCanUnloadNow.
MxResult FacQueryInterface(MxClassFactory* self, const MxGuid* iid, void** out);
uint32_t FacAddRef(MxClassFactory*) { return static_cast<uint32_t>(++g_locks); }
uint32_t FacRelease(MxClassFactory*) { return static_cast<uint32_t>(--g_locks); }

MxResult FacCreateInstance(MxClassFactory*, void* outer, const MxGuid* iid, void** out) {
  if (!out) return MX_E_POINTER;
  *out = nullptr;
  if (outer) return MX_CLASS_E_NOAGGREGATION;
  if (!SameGuid(iid, kIid) && !SameGuid(iid, kIidUnknown)) return MX_E_NOINTERFACE;
  Object* obj = new (std::nothrow) Object;
  if (!obj) return MX_E_OUTOFMEMORY;
  obj->base.lpVtbl = &kObjectVtbl;
  ++g_objects;
  *out = &obj->base;
  return MX_S_OK;
}

MxResult FacLockServer(MxClassFactory*, int32_t lock) {
  g_locks += lock ? 1 : -1;
  return MX_S_OK;
}

const MxClassFactoryVtbl kFactoryVtbl = {FacQueryInterface, FacAddRef, FacRelease,
                                         FacCreateInstance, FacLockServer};
MxClassFactory g_factory = {&kFactoryVtbl};

MxResult FacQueryInterface(MxClassFactory* self, const MxGuid* iid, void** out) {
  if (!out) return MX_E_POINTER;
  *out = nullptr;
  if (!SameGuid(iid, kIidFactory) && !SameGuid(iid, kIidUnknown)) return MX_E_NOINTERFACE;
  FacAddRef(self);
  *out = self;
  return MX_S_OK;
}

// Where registration records the library's path: a file the program reads
// when the library is not beside its executable.
std::filesystem::path RegistrationFile() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  std::filesystem::path base = xdg && *xdg ? xdg : std::string(home ? home : "/tmp") + "/.config";
  return base / MXFINDER_REGISTRATION_FILE;
}

}  // namespace

MX_EXPORT MxResult DllGetClassObject(const MxGuid* clsid, const MxGuid* iid, void** out) {
  if (!out) return MX_E_POINTER;
  *out = nullptr;
  if (!SameGuid(clsid, kClsid)) return MX_CLASS_E_CLASSNOTAVAILABLE;
  return FacQueryInterface(&g_factory, iid, out);
}

MX_EXPORT MxResult DllCanUnloadNow(void) {
  return g_objects == 0 && g_locks == 0 ? MX_S_OK : MX_S_FALSE;
}

MX_EXPORT MxResult DllRegisterServer(void) {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(&DllRegisterServer), &info) || !info.dli_fname) return MX_E_FAIL;
  std::error_code ec;
  std::filesystem::path file = RegistrationFile();
  std::filesystem::create_directories(file.parent_path(), ec);
  std::ofstream out(file, std::ios::trunc);
  out << std::filesystem::absolute(info.dli_fname, ec).string() << "\n";
  return out.good() ? MX_S_OK : MX_E_FAIL;
}

MX_EXPORT MxResult DllUnregisterServer(void) {
  std::error_code ec;
  std::filesystem::remove(RegistrationFile(), ec);
  return ec ? MX_E_FAIL : MX_S_OK;
}
