// STAND-INS, to be deleted as the real modules land on main: the
// configuration reading and writing, the slot pools and the resolver
// library's client. They are weak, so a real definition replaces them.
#include <dlfcn.h>

#include <fstream>
#include <sstream>

#include "config/configuration.h"
#include "log/dates.h"
#include "log/logs.h"
#include "log/runtime_error.h"
#include "mxfinder_com.h"
#include "service/connexion.h"
#include "service/program.h"
#include "service/standins.h"

namespace dorvane {

__attribute__((weak)) void CConfiguration::WriteConf() const {
  std::ofstream out(ProgramPath("Dorvane.ini"), std::ios::binary | std::ios::trunc);
  if (!out) Raise(kErrPermissionDenied, "WriteConf", "Permission denied");
  for (const char* line :
       {"# Fichier de configuration de Dorvane",
        "# Placer un dièse '#' devant une ligne pour qu'elle devienne un commentaire", "",
        "# Version de Dorvane pour ce fichier de configuration (dernière écriture logicielle)"})
    out << line << "\r\n";
  out << "# Dorvane Version " << VersionText() << "\r\n\r\n<Global>\r\n</Global>\r\n\r\n<Registry>\r\n</Registry>\r\n";
  out.close();
  MailLogAdd(GMTDate() + " Dorvane: Writing Dorvane.ini");
}

__attribute__((weak)) void ChargerConfig(bool apply) {
  CConfiguration& c = Config();
  c = CConfiguration();
  c.LaunchStart = true;
  c.DNSServer = "127.0.0.1";
  c.Language = "fr";
  c.ListenPort = 25;
  c.MaxNbrAttempt = 3;
  c.AttemptDelay = 60;
  c.Relay = true;
  std::ifstream in(ProgramPath("Dorvane.ini"), std::ios::binary);
  std::string line;
  while (apply && std::getline(in, line)) {
    for (char& ch : line)
      if (ch == '\t' || ch == '\r') ch = ' ';
    std::istringstream words(line);
    std::string key, value;
    words >> key >> value;
    if (key == "ListenPort") c.ListenPort = static_cast<int16_t>(std::stoi(value));
    if (key == "LaunchStart") c.LaunchStart = value != "Off";
    if (key == "Debug") c.DebugMode = value != "Off";
  }
  ConfigLoaded = true;
  MailLogAdd(GMTDate() + " Dorvane: Chargement de la configuration (Dorvane.ini)");
}

__attribute__((weak)) void ResetSlotPools() {}

std::string MxfinderVersionStandIn() {
  std::string path = ExecutableFolder() + MXFINDER_LIBRARY_NAME;
  void* lib = dlopen(path.c_str(), RTLD_NOW);
  if (!lib) Raise(429, "Mxfinder", "ActiveX component can't create object");
  auto get = reinterpret_cast<MxDllGetClassObjectFn>(dlsym(lib, "DllGetClassObject"));
  const MxGuid clsid = MX_CLSID_CMXFINDER_INIT, iid_factory = MX_IID_ICLASSFACTORY_INIT,
               iid = MX_IID_CMXFINDER_INIT;
  MxClassFactory* factory = nullptr;
  CMxfinder* obj = nullptr;
  if (!get || get(&clsid, &iid_factory, reinterpret_cast<void**>(&factory)) != MX_S_OK)
    Raise(429, "Mxfinder", "ActiveX component can't create object");
  MxResult rc = factory->lpVtbl->CreateInstance(factory, nullptr, &iid, reinterpret_cast<void**>(&obj));
  factory->lpVtbl->Release(factory);
  if (rc != MX_S_OK) Raise(429, "Mxfinder", "ActiveX component can't create object");
  char* version = nullptr;
  MxErrorInfo error{};
  rc = obj->lpVtbl->GetVer(obj, &version, &error);
  std::string text = version ? version : "";
  if (version) obj->lpVtbl->FreeString(obj, version);
  obj->lpVtbl->Release(obj);
  if (rc != MX_S_OK) Raise(error.number, error.source, error.description);
  return text;
}

}  // namespace dorvane
