// Start-up of the program (Form_Load): instance check, component checks,
// folders, log and configuration files, configuration, registry clean-up,
// slot pools, tray, and the service start when LaunchStart is on; and the
// pieces of it that stand alone (the instance lock, the owner-only modes,
// the installation records).
#pragma once

#include <functional>
#include <string>

namespace dorvane {

class Dialogs;
class ServiceControl;
struct Environment;

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

// What start-up needs from the modules around it; an empty call does
// nothing.
struct StartupCalls {
  // The resolver library's version read through its component boundary.
  // Throws RuntimeError when the library or its object cannot be created;
  // empty counts as a library that cannot be loaded.
  std::function<std::string()> resolver_version;
  // Applies the loaded language texts (to the main window when there is one).
  std::function<void()> apply_language;
  // Starts the background check for a newer program version.
  std::function<void()> check_version;
};

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

// Takes group and other permissions away from what the relay keeps in the
// program folder (spool and language folders and their files, logs,
// settings, lock, DNS cache, registry store): mail and logs are private to
// their user. Symbolic links are left alone. Returns how many were changed.
size_t RestrictProgramFolderModes();

// Removes the records of older installations (asking through `dialogs`
// first) and marks this one as installed.
void CleanupRegistry(RegistryAccess& registry, Dialogs& dialogs);

// A file counts as read-only when its owner may not write it (the mode
// bits, not access(), so that it also holds for root). Missing: false.
bool IsReadOnlyFile(const std::string& path);

// Start-up of the program (Form_Load) on one environment: the form, the
// settings, the logs and the dialogs all come from `env`.
class Startup {
 public:
  // `control` starts the service when LaunchStart is on and loads the
  // settings; `registry` null skips the clean-up of the installation
  // records. All must outlive this object.
  Startup(Environment& env, ServiceControl& control, StartupCalls calls, RegistryAccess* registry);

  // Runs the whole start-up. The instance lock (Dorvane.lock) is taken here
  // and held while this object lives; the first mail-log line of the start
  // names the program folder. Unexpected errors end the program
  // through ProgramError.
  StartOutcome Form_Load();

 private:
  bool CheckComponents();
  void CreateFolders();
  bool CheckFiles();
  StartOutcome LoadRest();
  void Refuse(const std::string& text);

  Environment& env_;
  ServiceControl& control_;
  StartupCalls calls_;
  RegistryAccess* registry_;
  InstanceLock lock_;
};

}  // namespace dorvane
