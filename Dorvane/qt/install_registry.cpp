#include "qt/install_registry.h"

#include "qt/autostart.h"
#include "qt/registry.h"

namespace dorvane {

bool StoreRegistry::KeyExists(const std::string& key) {
  return QueryValue(kHKeyLocalMachine, key, "").error == kRegSuccess;
}

std::string StoreRegistry::QueryString(const std::string& key, const std::string& name) {
  RegValue v = QueryValue(kHKeyLocalMachine, key, name);
  return v.error == kRegSuccess && v.type == kRegSz ? v.text : std::string();
}

void StoreRegistry::CreateKey(const std::string& key) { CreateNewKey(key, kHKeyLocalMachine); }

void StoreRegistry::SetString(const std::string& key, const std::string& name, const std::string& value) {
  SetKeyValue(kHKeyLocalMachine, key, name, value);
}

void StoreRegistry::DeleteKey(const std::string& key) { dorvane::DeleteKey(kHKeyLocalMachine, key); }

void DesktopAutostart::Follow(bool computer_start) { SetComputerStart(computer_start); }

}  // namespace dorvane
