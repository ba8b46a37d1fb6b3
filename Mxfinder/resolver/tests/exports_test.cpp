// The component boundary as a program sees it: the library loaded with
// dlopen, its object created through the class factory.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <string>

#include "mxfinder_com.h"

namespace {

const MxGuid kClsid = MX_CLSID_CMXFINDER_INIT;
const MxGuid kIid = MX_IID_CMXFINDER_INIT;
const MxGuid kIidFactory = MX_IID_ICLASSFACTORY_INIT;

class BoundaryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char self[PATH_MAX] = {};
    ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
    std::string path = self;
    path = path.substr(0, path.rfind('/') + 1) + MXFINDER_LIBRARY_NAME;
    library_ = dlopen(path.c_str(), RTLD_NOW);
    ASSERT_NE(nullptr, library_) << dlerror();
    get_ = reinterpret_cast<MxDllGetClassObjectFn>(dlsym(library_, "DllGetClassObject"));
    can_unload_ = reinterpret_cast<MxDllCanUnloadNowFn>(dlsym(library_, "DllCanUnloadNow"));
    ASSERT_NE(nullptr, get_);
    ASSERT_NE(nullptr, can_unload_);
  }

  MxClassFactory* Factory() {
    void* out = nullptr;
    EXPECT_EQ(MX_S_OK, get_(&kClsid, &kIidFactory, &out));
    return static_cast<MxClassFactory*>(out);
  }

  void* library_ = nullptr;
  MxDllGetClassObjectFn get_ = nullptr;
  MxDllCanUnloadNowFn can_unload_ = nullptr;
};

TEST_F(BoundaryTest, ClassObjectOnlyForItsClassAndInterfaces) {
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(MX_CLASS_E_CLASSNOTAVAILABLE, get_(&kIid, &kIidFactory, &out));
  EXPECT_EQ(nullptr, out);
  EXPECT_EQ(MX_E_NOINTERFACE, get_(&kClsid, &kIid, &out));
  EXPECT_EQ(MX_E_POINTER, get_(&kClsid, &kIidFactory, nullptr));

  MxClassFactory* factory = Factory();
  ASSERT_NE(nullptr, factory);
  int outer = 0;
  EXPECT_EQ(MX_CLASS_E_NOAGGREGATION, factory->lpVtbl->CreateInstance(factory, &outer, &kIid, &out));
  EXPECT_EQ(MX_E_NOINTERFACE, factory->lpVtbl->CreateInstance(factory, nullptr, &kIidFactory, &out));
  factory->lpVtbl->Release(factory);
}

TEST_F(BoundaryTest, ObjectSaysItsVersionAndHoldsTheLibraryUntilReleased) {
  ASSERT_EQ(MX_S_OK, can_unload_());
  MxClassFactory* factory = Factory();
  ASSERT_NE(nullptr, factory);
  CMxfinder* object = nullptr;
  ASSERT_EQ(MX_S_OK, factory->lpVtbl->CreateInstance(factory, nullptr, &kIid, reinterpret_cast<void**>(&object)));
  factory->lpVtbl->Release(factory);
  EXPECT_EQ(MX_S_FALSE, can_unload_());

  char* version = nullptr;
  MxErrorInfo error{};
  ASSERT_EQ(MX_S_OK, object->lpVtbl->GetVer(object, &version, &error));
  EXPECT_STREQ("3.0", version);
  object->lpVtbl->FreeString(object, version);

  void* again = nullptr;
  ASSERT_EQ(MX_S_OK, object->lpVtbl->QueryInterface(object, &kIid, &again));
  EXPECT_EQ(1u, object->lpVtbl->Release(object));
  EXPECT_EQ(0u, object->lpVtbl->Release(object));
  EXPECT_EQ(MX_S_OK, can_unload_());
}

}  // namespace
