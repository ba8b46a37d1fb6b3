// Entry points that other modules plug into start-up, the menu commands and
// the queue timers. main() fills them; an empty hook does nothing, so the
// service runs before every module is present, and tests set fakes.
#pragma once

#include <functional>
#include <string>

namespace dorvane {

class RegistryAccess;

struct ServiceHooks {
  // The resolver library's version read through its component boundary.
  // Throws RuntimeError when the library or its object cannot be created.
  std::function<std::string()> mxfinder_version;
  // Sets up the active-connections grid of the main window.
  std::function<void()> setup_connections_view;
  // Applies the loaded language texts to the main window.
  std::function<void()> apply_language;
  // Loads / writes the DNS cache file (service start / stop).
  std::function<void()> dns_open_cache;
  std::function<void()> dns_write_cache;
  // Moves the deferred queue back to OutBox; scans OutBox at once.
  std::function<void()> flush;
  std::function<void()> verif_outbox;
  // Moves deferred files whose delay is over back to OutBox.
  std::function<void()> verif_deferred;
  // Starts the background check for a newer program version.
  std::function<void()> version_check;
  // The installation records cleaned up at start-up; null skips that step.
  RegistryAccess* registry = nullptr;
};

ServiceHooks& Hooks();

// Runs `hook` when it is set.
inline void RunHook(const std::function<void()>& hook) {
  if (hook) hook();
}

}  // namespace dorvane
