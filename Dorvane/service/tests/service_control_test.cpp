#include "service/service_control.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <unistd.h>

#include "base/program.h"
#include "base/runtime_error.h"
#include "config/configuration.h"
#include "log/logs.h"
#include "relay/form.h"

namespace dorvane {
namespace {

namespace fs = std::filesystem;

// A listener whose Listen() answers what the test says.
struct FakeSocket : SocketControl {
  int listen_result = 0;
  int port = 0;
  SocketState state = SocketState::Closed;
  void SetProtocol(int) override {}
  int Protocol() const override { return sckTCPProtocol; }
  void SetLocalPort(int p) override { port = p; }
  int LocalPort() const override { return port; }
  void SetRemoteHost(const std::string&) override {}
  std::string RemoteHost() const override { return ""; }
  void SetRemotePort(int) override {}
  int RemotePort() const override { return 0; }
  std::string RemoteHostIP() const override { return ""; }
  std::string LocalIP() const override { return "127.0.0.1"; }
  SocketState State() const override { return state; }
  int Listen() override {
    if (listen_result == 0) state = SocketState::Listening;
    return listen_result;
  }
  void Accept(intptr_t) override {}
  void Connect() override {}
  void SendData(const std::string&) override {}
  std::string GetData() override { return ""; }
  void Close() override { state = SocketState::Closed; }
};

struct FakeArray : SocketArray {
  std::map<int, FakeSocket> elements{{0, FakeSocket{}}};
  void Load(int i) override { elements[i]; }
  void Unload(int i) override { elements.erase(i); }
  bool Exists(int i) const override { return elements.count(i) != 0; }
  SocketControl& operator[](int i) override { return elements.at(i); }
  void SetEvents(SocketEvents*) override {}
};

struct FakeTimer : FormTimer {
  bool enabled = false;
  void SetEnabled(bool e) override { enabled = e; }
  bool Enabled() const override { return enabled; }
};

struct RecordingShell : ShellView {
  std::vector<std::string> calls;
  void ShowServiceState(bool, const std::string& tooltip) override { calls.push_back(tooltip); }
  void SetStartStopEnabled(bool start, bool stop) override {
    calls.push_back(std::string("menus ") + (start ? "1" : "0") + (stop ? "1" : "0"));
  }
};

struct FakeForm : Form {
  FakeArray smtp, distant;
  FakeTimer outbox, deferred;
  RecordingShell shell;
  SocketArray& Smtp() override { return smtp; }
  SocketArray& SmtpDistant() override { return distant; }
  FormTimer& tmrVerifOutBox() override { return outbox; }
  FormTimer& tmrVerifDeferred() override { return deferred; }
  ShellView& Shell() override { return shell; }
  FakeSocket& listener() { return smtp.elements.at(0); }
};

struct FatalReport {
  int status;
};

class ServiceControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home = fs::temp_directory_path() / ("dorvane_svc_" + std::to_string(::getpid()));
    fs::remove_all(home);
    fs::create_directories(home);
    SetProgramFolder(home.string());
    SetForm(&form);
    SetFatalExit([](int status) { throw FatalReport{status}; });
    ConfigLoaded = true;
    Config().DebugMode = false;
    PushDebugMode();
    Config().ListenPort = 2525;
  }
  void TearDown() override {
    SetForm(nullptr);
    fs::remove_all(home);
  }
  std::vector<std::string> Lines(const std::string& name) {
    std::ifstream in(home / name, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
  }
  static bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
  }

  fs::path home;
  FakeForm form;
};

TEST_F(ServiceControlTest, StartListensOnListenPortAndStopClosesIt) {
  Demarrer();
  EXPECT_EQ(2525, form.listener().port);
  EXPECT_EQ(SocketState::Listening, form.listener().state);
  EXPECT_TRUE(ServiceStarted());
  EXPECT_EQ((std::vector<std::string>{"Dorvane 3.0 [Démarré]", "menus 01"}), form.shell.calls);

  Arreter();
  EXPECT_EQ(SocketState::Closed, form.listener().state);
  EXPECT_FALSE(ServiceStarted());
  auto log = Lines("maillog.txt");
  ASSERT_EQ(2u, log.size());
  EXPECT_TRUE(EndsWith(log[0], " Dorvane Start of SMTP service\r")) << log[0];
  EXPECT_TRUE(EndsWith(log[1], " Dorvane SMTP service stopped\r")) << log[1];
  EXPECT_EQ("Dorvane 3.0 [Arrêté]", form.shell.calls[2]);
}

// A taken or privileged port is the machine's condition: one error.txt line,
// the service stays stopped, nothing else changes and nothing is fatal.
TEST_F(ServiceControlTest, RefusedListenLeavesServiceStoppedWithOneErrorLine) {
  struct Case {
    int code;
    std::string tail;
  };
  for (const Case& c : {Case{kWsaEaddrinuse, " Port 2525 utilisé par une autre application\r"},
                        Case{kWsaEacces, " Port 2525 non autorisé (droits insuffisants)\r"}}) {
    SCOPED_TRACE(c.code);
    fs::remove(home / "error.txt");
    form.shell.calls.clear();
    form.listener().listen_result = c.code;
    EXPECT_EQ("Service arrêté (voir error.txt)\n", RunCommand("start"));
    auto errors = Lines("error.txt");
    ASSERT_EQ(1u, errors.size());
    EXPECT_TRUE(EndsWith(errors[0], c.tail)) << errors[0];
    EXPECT_FALSE(fs::exists(home / "maillog.txt"));
    EXPECT_TRUE(form.shell.calls.empty());
    EXPECT_TRUE(form.mnustartEnabled);
  }
}

TEST_F(ServiceControlTest, OtherListenFailureIsFatal) {
  form.listener().listen_result = kWsaEconnaborted;
  EXPECT_THROW(Demarrer(), FatalReport);
}

// The channel acts like the menu: a disabled entry does nothing.
TEST_F(ServiceControlTest, CommandsFollowTheMenuState) {
  EXPECT_EQ("Service déjà arrêté\n", RunCommand("stop"));
  EXPECT_EQ("Service démarré\n", RunCommand("start"));
  EXPECT_EQ("Service déjà démarré\n", RunCommand("start"));
  EXPECT_EQ(1u, Lines("maillog.txt").size());
  EXPECT_EQ("Service arrêté\n", RunCommand("stop"));
  EXPECT_EQ("Commande inconnue: dance\n", RunCommand("dance"));
}

TEST_F(ServiceControlTest, StatusCountsSpoolFilesAndShowsTheLivePort) {
  for (const char* d : {"OutBox", "Deferred", "Error"}) fs::create_directories(home / d);
  std::ofstream(home / "OutBox" / "A1") << "x";
  std::ofstream(home / "OutBox" / "B2") << "x";
  std::ofstream(home / "Error" / "C3") << "x";
  fs::create_directories(home / "Deferred" / "sub");  // folders are not mail
  Demarrer();
  Config().ListenPort = 2600;  // a reload does not move the listener
  EXPECT_EQ("state=started\nport=2525\nOutBox=2\nDeferred=0\nError=1\n", StatusText());
  Arreter();
  EXPECT_EQ("state=stopped\nport=2600\nOutBox=2\nDeferred=0\nError=1\n", StatusText());
}

TEST_F(ServiceControlTest, OnlyTheCloseBoxCancelsUnload) {
  EXPECT_TRUE(Form_QueryUnload(UnloadMode::CloseBox));
  EXPECT_FALSE(Form_QueryUnload(UnloadMode::Program));
}

}  // namespace
}  // namespace dorvane
