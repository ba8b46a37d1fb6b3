#include "config/configuration.h"

namespace dorvane {

bool ConfigLoaded = false;
std::string HostName;

CConfiguration& DefaultConfig() {
  static CConfiguration instance;
  return instance;
}

CConfiguration& FileConfig() {
  static CConfiguration instance;
  return instance;
}

CConfiguration& Config() {
  static CConfiguration instance;
  return instance;
}

CConfiguration& DialogConfig() {
  static CConfiguration instance;
  return instance;
}

std::string OnOffText(bool value) { return value ? "On" : "Off"; }

}  // namespace dorvane
