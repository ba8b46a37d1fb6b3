// The installation records of start-up, kept in the registry store under
// the local-machine root, and the autostart entry that ComputerStart asks
// for.
#pragma once

#include "service/service_control.h"
#include "service/startup.h"

namespace dorvane {

class StoreRegistry : public RegistryAccess {
 public:
  bool KeyExists(const std::string& key) override;
  std::string QueryString(const std::string& key, const std::string& name) override;
  void CreateKey(const std::string& key) override;
  void SetString(const std::string& key, const std::string& name, const std::string& value) override;
  void DeleteKey(const std::string& key) override;
};

// The freedesktop autostart entry of qt/autostart.h.
class DesktopAutostart : public Autostart {
 public:
  void Follow(bool computer_start) override;
};

}  // namespace dorvane
