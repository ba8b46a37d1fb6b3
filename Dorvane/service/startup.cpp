#include "service/startup.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <unordered_map>

#include "base/dates.h"
#include "base/dialogs.h"
#include "base/program.h"
#include "base/runtime_error.h"
#include "config/configuration.h"
#include "config/shipped_languages.h"
#include "log/guard.h"
#include "log/logs.h"
#include "relay/connexion.h"
#include "relay/environment.h"
#include "relay/form.h"
#include "service/service_control.h"
#include "spool/spool_file.h"

namespace dorvane {

const char* const kProductKey = "Software\\Groupe Telvar\\Dorvane";

namespace {

const char* const kWhere = "FRM:MAIN[Form_Load]";
const char* const kCannotGoOn = "\r\n\r\nL'application ne peut continuer ...";
// The resolver library's own version that this program is built against:
// the library keeps its numbering apart from the program's.
const char* const kNeededMxfinder = "3.0";

bool FolderExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

// Runs one component check; a failure is fatal and names the step.
template <class F>
auto InitStep(const std::string& step, F&& body) -> decltype(body()) {
  try {
    return body();
  } catch (const RuntimeError& e) {
    ProgramError(kWhere, std::to_string(e.number()), e.description() + "<BR>INIT: " + step);
  } catch (const std::exception& e) {
    ProgramError(kWhere, std::to_string(kErrInvalidCall), std::string(e.what()) + "<BR>INIT: " + step);
  }
}

// Takes the group and other bits off `path`, a file or folder (never
// through a link); true when it had any.
bool Restrict(const std::filesystem::path& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || S_ISLNK(st.st_mode)) return false;
  if ((st.st_mode & 077) == 0) return false;
  return ::chmod(path.c_str(), st.st_mode & 07700) == 0;
}

// The lock's holder: the pid its file names, 0 when it names none.
pid_t PidInLock(int fd) {
  char text[32] = {};
  ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
  if (n <= 0) return 0;
  long pid = std::strtol(text, nullptr, 10);
  return pid > 0 && pid <= INT32_MAX ? static_cast<pid_t>(pid) : 0;
}

bool OtherProcessLives(pid_t pid) {
  return pid > 0 && pid != ::getpid() && (::kill(pid, 0) == 0 || errno == EPERM);
}

}  // namespace

bool IsReadOnlyFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && (st.st_mode & S_IWUSR) == 0;
}

InstanceLock::~InstanceLock() {
  if (fd_ >= 0) ::close(fd_);
}

bool InstanceLock::Acquire(const std::string& path) {
  if (fd_ >= 0) return true;
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);  // a flock needs no write
  if (fd < 0) return true;  // nowhere to lock: run rather than refuse
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    bool held = errno == EWOULDBLOCK || OtherProcessLives(PidInLock(fd));
    if (held) {
      ::close(fd);
      return false;
    }
  }
  // For people and for file systems without locks; a full disk may refuse
  // it, which costs nothing while the flock is held.
  std::string pid = std::to_string(::getpid()) + "\nDorvane\n";
  if (::ftruncate(fd, 0) == 0) (void)!::pwrite(fd, pid.data(), pid.size(), 0);
  fd_ = fd;
  return true;
}

size_t RestrictProgramFolderModes() {
  namespace fs = std::filesystem;
  size_t changed = 0;
  for (const char* name : {"OutBox", "Deferred", "Error", "language", "run"}) {
    fs::path folder = ProgramPath(name);
    changed += Restrict(folder);
    std::error_code ec;
    for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::directory_iterator();
         it.increment(ec))
      changed += Restrict(it->path());
  }
  for (const char* name : {"maillog.txt", "error.txt", "update.txt", "Debug.html", "Dorvane.ini",
                           "Dorvane.lock", "Hosts.dns", "registry"})
    changed += Restrict(ProgramPath(name));
  return changed;
}

void CleanupRegistry(RegistryAccess& registry, Dialogs& dialogs) {
  const std::string title = "Information Dorvane";
  if (registry.KeyExists("Software\\Dorvane") &&
      dialogs.Question("Les enregistrements d'une version ancienne de Dorvane ont été trouvés dans le "
                       "registre !\r\nCes enregistrements ne sont plus utiles et occupent inutilement de "
                       "l'espace.\r\n\r\nSouhaitez-vous que Dorvane supprime ces enregistrements ?",
                       title, true)) {
    registry.DeleteKey("Software\\Dorvane\\Configuration");
    registry.DeleteKey("Software\\Dorvane");
  }
  const std::string product = kProductKey;
  std::string stored = registry.QueryString(product, "Version");
  if (registry.QueryString(product, "System") == "Installed" && stored != VersionText() &&
      dialogs.Question("Selon votre base de registre, il semblerait qu'une autre version de Dorvane soit "
                       "déjà installée !\r\n\r\nVersion détectée: " + stored + "\r\nVersion à installer: " +
                           VersionText() +
                           "\r\n\r\nDésinstaller toute autre version de Dorvane avant l'installation de "
                           "celle-ci ...\r\n\r\nSouhaitez-vous que Dorvane supprime ces enregistrements du "
                           "registre ?",
                       title, true)) {
    registry.DeleteKey(product + "\\Configuration");
    registry.DeleteKey(product);
  }
  if (registry.QueryString(product, "System") != "Installed") {
    registry.CreateKey(product);
    registry.SetString(product, "System", "Installed");
    registry.SetString(product, "Version", VersionText());
    registry.CreateKey(product + "\\Configuration");
  }
}

Startup::Startup(Environment& env, ServiceControl& control, StartupCalls calls, RegistryAccess* registry)
    : env_(env), control_(control), calls_(std::move(calls)), registry_(registry) {}

void Startup::Refuse(const std::string& text) { env_.dialogs.Message(text, "", DialogIcon::Critical); }

bool Startup::CheckComponents() {
  Form& form = env_.form;
  std::string version = InitStep("Mxfinder", [this] {
    if (!calls_.resolver_version) Raise(429, "Mxfinder", "ActiveX component can't create object");
    return calls_.resolver_version();
  });
  if (version != kNeededMxfinder) {
    Refuse(std::string("Cette version Dorvane nécessite Mxfinder ") + kNeededMxfinder + " !" + kCannotGoOn);
    return false;
  }
  form.Shell().SetMxfinderVersion("Mxfinder version detected: " + version);
  InitStep("Winsock", [&form] {
    form.Smtp().Load(1);
    form.Smtp().Unload(1);
  });
  InitStep("Dictionary", [] {
    std::unordered_map<std::string, std::string> dictionary;
    dictionary["Dorvane"] = VersionText();
  });
  return true;
}

void Startup::CreateFolders() {
  for (const char* name : {"OutBox", "Deferred", "Error", "language"}) {
    std::string path = ProgramPath(name);
    if (FolderExists(path)) continue;
    if (::mkdir(path.c_str(), 0700) != 0)
      Raise(kErrPathNotFound, "Form_Load", "Path/File access error: " + path);
    env_.logs.MailLogAdd(GMTDate() + " Dorvane: '" + name + "' directory creation");
  }
  // A crash can leave a half-written file under its staging name; no scan
  // takes it, so without this they would pile up.
  for (const std::string& path : RemoveStaleStagingFiles(env_.files))
    env_.logs.MailLogAdd(GMTDate() + " Dorvane: fichier incomplet supprim\xC3\xA9 (" + path + ")");
  if (size_t changed = RestrictProgramFolderModes())
    env_.logs.MailLogAdd(GMTDate() + " Dorvane: droits d'acc\xC3\xA8s r\xC3\xA9serv\xC3\xA9s au propri\xC3\xA9taire sur " +
                         std::to_string(changed) + " fichier(s) ou dossier(s)");
}

// Steps 10 and 11: false when a read-only file stops start-up.
bool Startup::CheckFiles() {
  for (const char* name : {"maillog.txt", "error.txt", "update.txt"}) {
    if (!IsReadOnlyFile(ProgramPath(name))) continue;
    Refuse(std::string("Fichier de log '") + name + "' en lecture seule !" + kCannotGoOn);
    return false;
  }
  std::string ini = ProgramPath("Dorvane.ini");
  if (!FileExists(ini)) {
    CConfiguration().WriteConf(env_.files, env_.logs);  // a fresh instance: the key-less file
  } else if (IsReadOnlyFile(ini)) {
    Refuse(std::string("Fichier de configuration en lecture seule !") + kCannotGoOn);
    return false;
  }
  return true;
}

StartOutcome Startup::LoadRest() {
  Form& form = env_.form;
  CreateFolders();
  InstallShippedLanguages();
  if (!CheckFiles()) return StartOutcome::Ended;
  control_.LoadConfiguration();
  RunIfSet(calls_.apply_language);
  if (registry_) CleanupRegistry(*registry_, env_.dialogs);
  env_.logs.DbgAdd("<P><HR><FONT face='Verdana' size='2'>Lancement de Dorvane</FONT><BR>", kDbgPlain);
  form.Smtp()[0].SetProtocol(sckTCPProtocol);
  form.SmtpDistant()[0].SetProtocol(sckTCPProtocol);
  env_.pools.Reset();
  form.Shell().ShowServiceState(false, "Dorvane " + VersionText() + " [Arrêté]");
  form.Shell().SetStartStopEnabled(form.mnustartEnabled, form.mnustopEnabled);
  if (env_.settings.running.LaunchStart) control_.mnustart_Click();
  RunIfSet(calls_.check_version);
  return StartOutcome::Running;
}

StartOutcome Startup::Form_Load() {
  Form& form = env_.form;
  form.Shell().SetMainVisible(false);
  if (!lock_.Acquire(ProgramPath("Dorvane.lock"))) {
    env_.dialogs.Message("Dorvane est déjà lancé !", "", DialogIcon::None);
    return StartOutcome::Ended;
  }
  env_.settings.config_loaded = false;
  env_.logs.SetDebugSafeMode();
  // Installed, the folder is chosen for the user: the log says which one.
  env_.logs.MailLogAdd(GMTDate() + " Dorvane " + VersionText() + ": dossier du programme " + ProgramFolder());
  return Guard(kWhere, [this, &form] {
    std::string caption = "Dorvane - Version " + VersionText();
    form.Shell().SetCaptions(caption + " [" + form.Smtp()[0].LocalIP() + "]", caption);
    if (!CheckComponents()) return StartOutcome::Ended;
    return LoadRest();
  });
}

}  // namespace dorvane
