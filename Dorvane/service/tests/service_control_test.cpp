#include "service/service_control.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/runtime_error.h"
#include "config/configuration.h"
#include "log/logs.h"
#include "tests/support/test_environment.h"

namespace dorvane {
namespace {

namespace fs = std::filesystem;

// Records what the service asks of the modules around it, in order.
struct Recorder : Autostart {
  std::vector<std::string> calls;
  void Follow(bool computer_start) override { calls.push_back(computer_start ? "autostart on" : "autostart off"); }
  ServiceCalls Calls() {
    auto note = [this](const char* name) { return [this, name] { calls.push_back(name); }; };
    return {note("open cache"), note("write cache"), note("flush"),
            note("scan"),       note("leave loop"),  note("relist")};
  }
};

class ServiceControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    t.form.smtp.Load(0);
    t.settings.running.ListenPort = 2525;
    t.logs.SetDebugMode(false);
  }
  fake::FakeSocket& listener() { return t.form.smtp.At(0); }
  std::vector<std::string> Lines(const std::string& name) {
    std::vector<std::string> lines;
    std::string text = t.program.Read(name);
    for (size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
      lines.push_back(text.substr(at, end - at));
    return lines;
  }
  static bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
  }

  TestEnvironment t;
  Recorder recorder;
  ServiceControl control{t.env, recorder, recorder.Calls()};
};

TEST_F(ServiceControlTest, StartListensOnListenPortAndStopClosesIt) {
  EXPECT_EQ("Dorvane: dossier du programme /h/\nDorvane: service SMTP arrêté (LaunchStart Off), port 2525\n",
            HeadlessStartReport("/h/", 2525, control.LastStart(), "/usr/bin/dorvane"));
  control.Demarrer();
  EXPECT_EQ("Dorvane: dossier du programme /h/\nDorvane: service SMTP en écoute sur le port 2525\n",
            HeadlessStartReport("/h/", 2525, control.LastStart(), "/usr/bin/dorvane"));
  EXPECT_EQ(2525, listener().LocalPort());
  EXPECT_EQ(SocketState::Listening, listener().state);
  EXPECT_TRUE(control.Started());
  EXPECT_EQ("Dorvane 3.0 [Démarré]", t.form.shell.tooltip);
  EXPECT_FALSE(t.form.shell.start_enabled);
  EXPECT_TRUE(t.form.shell.stop_enabled);

  control.Arreter();
  EXPECT_EQ(SocketState::Closed, listener().state);
  EXPECT_FALSE(control.Started());
  EXPECT_EQ("Dorvane 3.0 [Arrêté]", t.form.shell.tooltip);
  auto log = Lines("maillog.txt");
  ASSERT_EQ(2u, log.size());
  EXPECT_TRUE(EndsWith(log[0], " Dorvane Start of SMTP service")) << log[0];
  EXPECT_TRUE(EndsWith(log[1], " Dorvane SMTP service stopped")) << log[1];
  EXPECT_EQ((std::vector<std::string>{"open cache", "write cache"}), recorder.calls);
}

// A taken or privileged port is the machine's condition: one error.txt line,
// the service stays stopped, nothing else changes and nothing is fatal. A
// headless start says the same on its terminal, with the way out.
TEST_F(ServiceControlTest, RefusedListenLeavesServiceStoppedWithOneErrorLine) {
  struct Case {
    int code;
    std::string tail;
    ListenOutcome outcome;
    std::string report;
  };
  const std::string folder = "Dorvane: dossier du programme /h/\n";
  for (const Case& c :
       {Case{kWsaEaddrinuse, " Port 2525 utilisé par une autre application", ListenOutcome::PortInUse,
             folder + "Dorvane: port 2525 utilisé par une autre application, service SMTP arrêté\n"},
        Case{kWsaEacces, " Port 2525 non autorisé (droits insuffisants)", ListenOutcome::NoPermission,
             folder + "Dorvane: port 2525 non autorisé (droits insuffisants), service SMTP arrêté ; donnez ce "
                      "droit au programme (setcap cap_net_bind_service=+ep /usr/bin/dorvane) ou choisissez un "
                      "ListenPort au-dessus de 1023 dans /h/Dorvane.ini\n"}}) {
    SCOPED_TRACE(c.code);
    fs::remove(t.program.Path("error.txt"));
    listener().listen_result = c.code;
    EXPECT_EQ("Service arrêté (voir error.txt)\n", control.RunCommand("start"));
    EXPECT_EQ(c.outcome, control.LastStart());
    EXPECT_EQ(c.report, HeadlessStartReport("/h/", 2525, control.LastStart(), "/usr/bin/dorvane"));
    auto errors = Lines("error.txt");
    ASSERT_EQ(1u, errors.size());
    EXPECT_TRUE(EndsWith(errors[0], c.tail)) << errors[0];
    EXPECT_EQ("", t.program.Read("maillog.txt"));
    EXPECT_EQ("", t.form.shell.tooltip);
    EXPECT_TRUE(recorder.calls.empty());
    EXPECT_TRUE(t.form.mnustartEnabled);
  }
}

TEST_F(ServiceControlTest, OtherListenFailureIsFatal) {
  listener().listen_result = kWsaEconnaborted;
  EXPECT_THROW(control.Demarrer(), ProgramEnded);
}

// The channel acts like the menu: a disabled entry does nothing. It
// answers in the language the settings name (the shipped English file
// here), built-in French otherwise.
TEST_F(ServiceControlTest, CommandsFollowTheMenuStateInTheConfiguredLanguage) {
  struct Step {
    std::string command, french, english;
    std::vector<std::string> calls;  // asked of the modules around
  };
  const Step steps[] = {
      {"stop", "Service déjà arrêté\n", "Service already stopped\n", {}},
      {"start", "Service démarré\n", "Service started\n", {"open cache"}},
      {"start", "Service déjà démarré\n", "Service already started\n", {}},
      {"flush", "File deferred remise en envoi\n", "Deferred mail sent again\n", {"flush", "scan"}},
      {"scan", "OutBox examinée\n", "OutBox scanned\n", {"scan"}},
      {"reload", "Configuration rechargée\n", "Configuration reloaded\n", {"autostart on", "relist"}},
      {"stop", "Service arrêté\n", "Service stopped\n", {"write cache"}},
      {"quit", "Arrêt de Dorvane\n", "Dorvane is quitting\n", {}},  // the caller quits once the answer is out
      {"dance", "Commande inconnue: dance\n", "Unknown command: dance\n", {}},
  };
  std::ifstream shipped(DORVANE_SOURCE_DIR "/language/en.ini", std::ios::binary);
  t.program.Write("language/en.ini", std::string(std::istreambuf_iterator<char>(shipped), {}));
  for (const char* language : {"fr", "en"}) {
    SCOPED_TRACE(language);
    bool english = language == std::string("en");
    t.program.Write("Dorvane.ini", std::string("Language\t") + language +
                                       "\r\n<Registry>\r\n\tComputerStart\tOn\r\n</Registry>\r\n");
    control.LoadConfiguration();
    fs::remove(t.program.Path("maillog.txt"));
    for (const Step& s : steps) {
      SCOPED_TRACE(s.command);
      recorder.calls.clear();
      EXPECT_EQ(english ? s.english : s.french, control.RunCommand(s.command));
      EXPECT_EQ(s.calls, recorder.calls);
    }
    EXPECT_EQ(english ? 4u : 3u, Lines("maillog.txt").size())
        << "one start, the reload's line (and the language file's), one stop";
  }
  EXPECT_EQ("state=stopped\n", control.RunCommand("status").substr(0, 14)) << "scripts read it as it is";
}

// Reloading brings the autostart entry in line with the file's ComputerStart,
// and has the queue listed afresh.
TEST_F(ServiceControlTest, ReloadMakesTheAutostartEntryFollowTheFile) {
  for (const char* value : {"On", "Off"}) {
    t.program.Write("Dorvane.ini", std::string("<Registry>\r\n\tComputerStart\t") + value + "\r\n</Registry>\r\n");
    control.mnureload_Click();
  }
  EXPECT_EQ((std::vector<std::string>{"autostart on", "relist", "autostart off", "relist"}), recorder.calls);
}

TEST_F(ServiceControlTest, StatusCountsSpoolFilesAndShowsTheLivePort) {
  for (const char* d : {"OutBox", "Deferred", "Error"}) fs::create_directories(t.program.Path(d));
  for (const char* f : {"OutBox/A1", "OutBox/B2", "Error/C3"}) t.program.Write(f, "x");
  fs::create_directories(t.program.Path("Deferred/sub"));  // folders are not mail
  control.Demarrer();
  t.settings.running.ListenPort = 2600;  // a reload does not move the listener
  EXPECT_EQ("state=started\nport=2525\nOutBox=2\nDeferred=0\nError=1\n", control.StatusText());
  control.Arreter();
  EXPECT_EQ("state=stopped\nport=2600\nOutBox=2\nDeferred=0\nError=1\n", control.StatusText());
}

// Every way out runs the final stop, but only the first one stops anything.
TEST_F(ServiceControlTest, QuitStopsOnceAndLeavesTheLoop) {
  EXPECT_TRUE(Form_QueryUnload(UnloadMode::CloseBox));
  EXPECT_FALSE(Form_QueryUnload(UnloadMode::Program));
  control.Demarrer();
  control.mnuquit_Click();
  control.UnloadOnce();
  EXPECT_EQ((std::vector<std::string>{"open cache", "write cache", "leave loop"}), recorder.calls);
  EXPECT_EQ(2u, Lines("maillog.txt").size());
  EXPECT_TRUE(t.form.unloaded);
}

}  // namespace
}  // namespace dorvane
