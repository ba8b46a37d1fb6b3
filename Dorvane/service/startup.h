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

// ChargerConfig(true), then the autostart entry follows the loaded
// ComputerStart: what start-up and the reload command run.
void LoadConfiguration();

// An exclusive lock on one lock file, held while the object lives. The
// file holds the holder's pid; the holder also keeps a flock on it, which
// the kernel drops when the process ends, however it ends.
class InstanceLock {
 public:
  InstanceLock() = default;
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  // False only when a live process holds the lock. A lock left by a dead
  // process is taken over, even when its file cannot be rewritten (a full
  // disk): a live holder is told by its process, never by the file. Where
  // the file system has no locks, the pid in the file decides.
  bool Acquire(const std::string& path);

 private:
  int fd_ = -1;
};

// Takes the program folder's instance lock (Dorvane.lock) for the life of
// the process; false when another instance holds it.
bool AcquireInstanceLock();

// Takes group and other permissions away from what the relay keeps in the
// program folder (spool and language folders and their files, logs,
// settings, lock, DNS cache, registry store): mail and logs are private to
// their user. Symbolic links are left alone. Returns how many were changed.
size_t RestrictProgramFolderModes();

// Removes the records of older installations (asking first) and marks this
// one as installed.
void CleanupRegistry(RegistryAccess& registry);

// A file counts as read-only when its owner may not write it (the mode
// bits, not access(), so that it also holds for root). Missing: false.
bool IsReadOnlyFile(const std::string& path);

}  // namespace dorvane
