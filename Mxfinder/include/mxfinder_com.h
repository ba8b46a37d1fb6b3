/* The component boundary of the resolver library: plain C, so that the
 * program can load the library at run time (dlopen) and create a CMxfinder
 * object by its class identifier through a class factory.
 *
 * Ownership: strings cross as UTF-8. A string the library returns belongs to
 * the library and is given back with the object's FreeString; strings the
 * caller passes stay the caller's. Errors cross as (number, source,
 * description) in a caller-owned MxErrorInfo.
 */
#ifndef MXFINDER_COM_H
#define MXFINDER_COM_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t MxResult;
#define MX_S_OK ((MxResult)0)
#define MX_S_FALSE ((MxResult)1)
#define MX_E_NOINTERFACE ((MxResult)0x80004002)
#define MX_E_POINTER ((MxResult)0x80004003)
#define MX_E_FAIL ((MxResult)0x80004005)
#define MX_E_OUTOFMEMORY ((MxResult)0x8007000E)
#define MX_CLASS_E_CLASSNOTAVAILABLE ((MxResult)0x80040111)
#define MX_CLASS_E_NOAGGREGATION ((MxResult)0x80040110)
#define MX_DISP_E_EXCEPTION ((MxResult)0x80020009) /* see the MxErrorInfo */

typedef struct MxGuid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
} MxGuid;

/* {6D1E2A40-3C5B-4F7A-9E21-0B4D8C7F3A10} */
#define MX_CLSID_CMXFINDER_INIT \
  { 0x6D1E2A40, 0x3C5B, 0x4F7A, { 0x9E, 0x21, 0x0B, 0x4D, 0x8C, 0x7F, 0x3A, 0x10 } }
/* {6D1E2A41-3C5B-4F7A-9E21-0B4D8C7F3A10} */
#define MX_IID_CMXFINDER_INIT \
  { 0x6D1E2A41, 0x3C5B, 0x4F7A, { 0x9E, 0x21, 0x0B, 0x4D, 0x8C, 0x7F, 0x3A, 0x10 } }
/* {00000001-0000-0000-C000-000000000046} */
#define MX_IID_ICLASSFACTORY_INIT \
  { 0x00000001, 0x0000, 0x0000, { 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46 } }
/* {00000000-0000-0000-C000-000000000046} */
#define MX_IID_IUNKNOWN_INIT \
  { 0x00000000, 0x0000, 0x0000, { 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46 } }

/* An error raised inside the library: runtime-error number, source
 * ("CDnsMessage.ComposeQuery") and description. */
typedef struct MxErrorInfo {
  int32_t number;
  char source[256];
  char description[512];
} MxErrorInfo;

typedef struct CMxfinder CMxfinder;

typedef struct CMxfinderVtbl {
  MxResult (*QueryInterface)(CMxfinder* self, const MxGuid* iid, void** out);
  uint32_t (*AddRef)(CMxfinder* self);
  uint32_t (*Release)(CMxfinder* self);
  /* "3.0" in *version (free with FreeString). */
  MxResult (*GetVer)(CMxfinder* self, char** version, MxErrorInfo* error);
  /* Resolves the MX records of domain_in at dns_server. *domain_out is the
   * name asked for (a dotted IPv4 address becomes its reverse-mapping name);
   * *result is the record text, "" or "ERROR_DNS_TIMEOUT". Both are freed
   * with FreeString. On MX_DISP_E_EXCEPTION, *error says what failed. */
  MxResult (*ResolveDnsQuery)(CMxfinder* self, const char* domain_in, char** domain_out,
                              const char* dns_server, char** result, MxErrorInfo* error);
  void (*FreeString)(CMxfinder* self, char* text);
} CMxfinderVtbl;

struct CMxfinder {
  const CMxfinderVtbl* lpVtbl;
};

typedef struct MxClassFactory MxClassFactory;

typedef struct MxClassFactoryVtbl {
  MxResult (*QueryInterface)(MxClassFactory* self, const MxGuid* iid, void** out);
  uint32_t (*AddRef)(MxClassFactory* self);
  uint32_t (*Release)(MxClassFactory* self);
  MxResult (*CreateInstance)(MxClassFactory* self, void* outer, const MxGuid* iid, void** out);
  MxResult (*LockServer)(MxClassFactory* self, int32_t lock);
} MxClassFactoryVtbl;

struct MxClassFactory {
  const MxClassFactoryVtbl* lpVtbl;
};

/* The four exports. */
typedef MxResult (*MxDllGetClassObjectFn)(const MxGuid* clsid, const MxGuid* iid, void** out);
typedef MxResult (*MxDllCanUnloadNowFn)(void);
typedef MxResult (*MxDllRegisterServerFn)(void);
typedef MxResult (*MxDllUnregisterServerFn)(void);

#define MXFINDER_LIBRARY_NAME "libMxfinder.so"
/* DllRegisterServer writes the library's absolute path, one line, into this
 * file under the user's configuration folder ($XDG_CONFIG_HOME, else
 * $HOME/.config); DllUnregisterServer removes it. */
#define MXFINDER_REGISTRATION_FILE "Mxfinder/inproc-server"

#ifdef __cplusplus
}
#endif

#endif /* MXFINDER_COM_H */
