#include "service/hooks.h"

namespace dorvane {

ServiceHooks& Hooks() {
  static ServiceHooks hooks;
  return hooks;
}

}  // namespace dorvane
