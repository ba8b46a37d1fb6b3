// Start-up of the program (Form_Load): instance check, component checks,
// folders, log and configuration files, configuration, registry clean-up,
// slot pools, tray, and the service start when LaunchStart is on.
#pragma once

#include <string>

namespace dorvane {

// The installation records of the registry layer, as start-up uses them.
class RegistryAccess {
 public:
  virtual ~RegistryAccess() = default;
  virtual bool KeyExists(const std::string& key) = 0;
  // The string value `name` of `key`; empty when either is missing.
  virtual std::string QueryString(const std::string& key, const std::string& name) = 0;
  virtual void CreateKey(const std::string& key) = 0;
  virtual void SetString(const std::string& key, const std::string& name, const std::string& value) = 0;
  virtual void DeleteKey(const std::string& key) = 0;
};

// "Software\Groupe Telvar\Dorvane": the root of the program's own records.
extern const char* const kProductKey;

enum class StartOutcome {
  Running,  // start-up finished; the event loop runs the program
  Ended,    // a check refused to go on (its message was shown)
};

// Runs the whole start-up on CurrentForm() with CurrentDialogs() and Hooks().
// Unexpected errors end the program through ProgramError.
StartOutcome Form_Load();

// Takes the program folder's instance lock for the life of the process;
// false when another instance holds it.
bool AcquireInstanceLock();

// Removes the records of older installations (asking first) and marks this
// one as installed.
void CleanupRegistry(RegistryAccess& registry);

// A file counts as read-only when its owner may not write it (the mode
// bits, not access(), so that it also holds for root). Missing: false.
bool IsReadOnlyFile(const std::string& path);

}  // namespace dorvane
