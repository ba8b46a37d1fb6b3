// The installation records of start-up, kept in the registry store under
// the local-machine root.
#pragma once

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

}  // namespace dorvane
