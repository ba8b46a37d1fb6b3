#include "shell/desktop_shell.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QSystemTrayIcon>
#include <QTableWidget>
#include <QTcpSocket>
#include <QTimer>
#include <QWindow>

#include "base/clock.h"
#include "base/files.h"
#include "config/configuration.h"
#include "config/language.h"
#include "gui_support.h"
#include "mx/cdns.h"
#include "qt/main_form.h"
#include "qt/qt_event_loop.h"
#include "qt/tests/event_loop_support.h"
#include "relay/environment.h"
#include "relay/form.h"
#include "service/inbound_session.h"
#include "service/service_control.h"
#include "shell/connections_view.h"
#include "shell/main_window.h"
#include "spool/spool_committer.h"
#include "tests/support/free_port.h"
#include "tests/support/test_environment.h"

namespace dorvane {
namespace {

// Keeps every text the grid's Command column shows, in order.
class RecordingShell : public DesktopShell {
 public:
  using DesktopShell::DesktopShell;
  void RefreshConnection(const std::string& type, int slot) override {
    DesktopShell::RefreshConnection(type, slot);
    int row = Connections().Grid().RowOf(type, slot);
    rows.push_back(row);
    stages.push_back(row < 0 ? "(free)" : Connections().Grid().Row(row)[3]);
    to.push_back(row < 0 ? "" : Connections().Grid().Row(row)[5]);
  }
  std::vector<int> rows;
  std::vector<std::string> stages, to;
};

struct NoAutostart : Autostart {
  void Follow(bool) override {}
};

// The desktop over the real form and the service, on a test environment.
class DesktopShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::EnsureGuiApp();
    for (const char* folder : {"OutBox", "Deferred", "Error"}) QDir().mkpath(QString::fromStdString(t_.program.Path(folder)));
    CConfiguration().WriteConf(t_.files, t_.logs);
    ChargerConfig(t_.settings, t_.logs, t_.files, true);
    t_.settings.running.ListenPort = static_cast<int16_t>(FreeLoopbackPort(32767));
    ShellCommands commands;
    commands.start = [this] { control_->mnustart_Click(); };
    commands.stop = [this] { control_->mnustop_Click(); };
    commands.quit = [this] { control_->mnuquit_Click(); };
    commands.unload = [this] { control_->Form_Unload(); };
    commands.query_unload = [](bool box) { return Form_QueryUnload(box ? UnloadMode::CloseBox : UnloadMode::Program); };
    commands.open_url = [](const std::string&) {};  // no browser in tests
    commands.tray_available = [this] { return tray_available_; };
    auto shell = std::make_unique<RecordingShell>(
        std::move(commands), DesktopEnvironment{t_.program.dialogs, t_.settings, pools_, t_.logs, t_.files});
    shell_ = shell.get();
    form_ = std::make_unique<QtForm>(std::move(shell));
    rows_.shell = shell_;
    env_ = std::make_unique<Environment>(
        Environment{*form_, pools_, t_.settings, t_.logs, t_.program.dialogs, t_.files, t_.clock, t_.loop});
    inbound_ = std::make_unique<InboundSession>(*env_, committer_, nullptr);
    ServiceCalls calls;
    calls.leave_loop = [] { QCoreApplication::exit(0); };
    control_ = std::make_unique<ServiceControl>(*env_, autostart_, calls);
    shell_->ShowServiceState(false, "Dorvane 3.0 [Arr\xC3\xAAt\xC3\xA9]");
  }
  void TearDown() override {
    for (const auto& box : t_.program.dialogs.boxes) ADD_FAILURE() << "box: " << box.text;
    if (control_->Started()) control_->Arreter();
  }
  std::string Tooltip() { return shell_->Tray().toolTip().toStdString(); }
  bool Enabled(const char* entry) { return shell_->Entry(entry).isEnabled(); }

  // As the window system delivers the close box's request.
  void CloseBox() {
    QCloseEvent close_box;
    QApplication::sendEvent(shell_->Window().windowHandle(), &close_box);
  }

  // The slots show their rows on the shell, which is made after them.
  struct Rows : ShellView {
    void RefreshConnection(const std::string& type, int slot) override {
      if (shell) shell->RefreshConnection(type, slot);
    }
    ShellView* shell = nullptr;
  };

  TestEnvironment t_;
  Rows rows_;
  SlotPools pools_{rows_, [this] { return std::make_unique<CDns>(t_.settings, t_.dns_cache, t_.mx_lookup, t_.logs); }};
  bool tray_available_ = false;  // no panel until a test brings one
  NoAutostart autostart_;
  // The program's own committer: messages are written on its workers and
  // their outcomes come back through Qt's loop.
  QtEventLoop qt_loop_;
  ThreadedSpoolCommitter committer_{t_.files, qt_loop_};
  std::unique_ptr<QtForm> form_;
  std::unique_ptr<Environment> env_;
  std::unique_ptr<InboundSession> inbound_;  // after form_ and env_: gone before them
  std::unique_ptr<ServiceControl> control_;
  RecordingShell* shell_ = nullptr;
};

TEST_F(DesktopShellTest, TrayMenuHoldsEveryEntryInOrderWithQuitAsDefault) {
  std::vector<std::string> got, want;
  for (QAction* a : shell_->TrayMenu().actions())
    got.push_back(a->objectName().toStdString() + "=" + (a->isSeparator() ? "-" : a->text().toStdString()));
  for (const MenuEntry& e : TrayMenuEntries()) want.push_back(std::string(e.name) + "=" + e.caption);
  EXPECT_EQ(got, want);
  EXPECT_EQ(got.front(), "mnuopen=Ouvrir");
  EXPECT_EQ(got.back(), "mnuquit=Quitter");
  EXPECT_EQ(shell_->TrayMenu().defaultAction(), &shell_->Entry("mnuquit"));
  EXPECT_EQ(shell_->Tray().contextMenu(), &shell_->TrayMenu());
  EXPECT_EQ(shell_->Entry("mnusystrayevent").text().toStdString(), "systrayevent");
}

TEST_F(DesktopShellTest, StartAndStopFromTheMenuSwitchTooltipAndEntries) {
  EXPECT_EQ(Tooltip(), "Dorvane 3.0 [Arr\xC3\xAAt\xC3\xA9]");
  shell_->Entry("mnustart").trigger();
  EXPECT_EQ(Tooltip(), "Dorvane 3.0 [D\xC3\xA9marr\xC3\xA9]");
  EXPECT_FALSE(Enabled("mnustart"));
  EXPECT_TRUE(Enabled("mnustop"));
  QTcpSocket client;
  client.connectToHost(QHostAddress::LocalHost, t_.settings.running.ListenPort);
  EXPECT_TRUE(client.waitForConnected(2000)) << "the service listens";
  client.abort();
  shell_->Entry("mnustop").trigger();
  EXPECT_EQ(Tooltip(), "Dorvane 3.0 [Arr\xC3\xAAt\xC3\xA9]");
  EXPECT_TRUE(Enabled("mnustart"));
  EXPECT_FALSE(Enabled("mnustop"));
}

TEST_F(DesktopShellTest, CloseBoxMinimisesUntilATrayAppearsThenHidesAndQuitStopsTheService) {
  shell_->Entry("mnustart").trigger();
  MainWindow& window = shell_->Window();
  EXPECT_TRUE(window.isVisible()) << "without a tray the window is the way in";
  shell_->ShowUpdateAvailable(false);
  CloseBox();
  EXPECT_TRUE(window.isMinimized()) << "no icon to come back from: only minimised";
  EXPECT_FALSE(shell_->Tray().isVisible());
  tray_available_ = true;  // the panel starts after the program
  ASSERT_TRUE(test::PumpUntil([&] { return shell_->Tray().isVisible(); }, 5 * kTrayPollMs));
  EXPECT_TRUE(shell_->UpdateTray().isVisible());
  shell_->Entry("mnuopen").trigger();
  CloseBox();
  EXPECT_FALSE(window.isVisible());
  EXPECT_TRUE(control_->Started());
  emit shell_->Tray().activated(QSystemTrayIcon::DoubleClick);
  EXPECT_TRUE(window.isVisible());

  QTimer::singleShot(0, [this] { shell_->Entry("mnuquit").trigger(); });
  QTimer::singleShot(3000, [] { QCoreApplication::exit(99); });  // bound if it never ends
  EXPECT_EQ(QApplication::exec(), 0);
  EXPECT_FALSE(control_->Started());
  EXPECT_FALSE(shell_->Tray().isVisible());
  EXPECT_NE(t_.program.Read("maillog.txt").find("SMTP service stopped"), std::string::npos);
}

TEST_F(DesktopShellTest, AlwaysOnTopTogglesAndMovesToTheCorner) {
  MainWindow& window = shell_->Window();
  window.move(200, 150);
  shell_->Entry("mnuwintop").trigger();
  EXPECT_TRUE(window.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_EQ(window.pos(), QPoint(0, 0));
  shell_->Entry("mnuwintop").trigger();
  EXPECT_FALSE(window.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_EQ(window.pos(), QPoint(0, 0));
}

TEST_F(DesktopShellTest, OneRightClickOnTheWindowPopsTheMenuOnce) {
  MainWindow& window = shell_->Window();
  int popups = 0;
  window.popup_menu = [&popups](const QPoint&) { ++popups; };
  window.show();
  ASSERT_TRUE(test::PumpUntil([&] { return window.windowHandle() && window.windowHandle()->isExposed(); }));
  QPointF at(20, 20);
  for (auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
    QMouseEvent e(type, at, window.mapToGlobal(at), Qt::RightButton,
                  type == QEvent::MouseButtonPress ? Qt::RightButton : Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(window.windowHandle(), &e);
  }
  EXPECT_EQ(popups, 1);
}

// Every caption of the window and its menus, by object name.
std::map<std::string, std::string> Captions(QWidget& window) {
  std::map<std::string, std::string> captions;
  for (auto* label : window.findChildren<QLabel*>()) captions[label->objectName().toStdString()] = label->text().toStdString();
  for (auto* button : window.findChildren<QAbstractButton*>())
    captions[button->objectName().toStdString()] = button->text().toStdString();
  for (auto* entry : window.findChildren<QAction*>())
    if (!entry->isSeparator()) captions[entry->objectName().toStdString()] = entry->text().toStdString();
  for (auto* grid : window.findChildren<QTableWidget*>())
    for (int column = 0; column < grid->columnCount(); ++column)
      captions[grid->objectName().toStdString() + "_" + std::to_string(column)] =
          grid->horizontalHeaderItem(column)->text().toStdString();
  return captions;
}

TEST_F(DesktopShellTest, ShippedEnglishSwitchesEveryCaptionOfTheMainWindow) {
  shell_->SetCaptions("Dorvane - Version 3.0 [127.0.0.1]", "Dorvane - Version 3.0");
  shell_->SetMxfinderVersion("Mxfinder version detected: 3.0");
  auto french = Captions(shell_->Window());
  t_.settings.language.entries = ParseLanguage(test::ReadSource("language/en.ini"));
  shell_->ApplyLanguage();
  auto english = Captions(shell_->Window());
  french.erase("Titre");  // run-time captions, not the language's
  french.erase("lblMxfinderVer");
  french.erase("");       // Qt's own inner buttons
  for (const auto& [name, text] : french) {
    std::string key = "CPT_" + name;
    auto entry = std::find_if(t_.settings.language.entries.begin(), t_.settings.language.entries.end(),
                              [&](const LangEntry& e) { return e.section == "MAIN" && e.key == key; });
    ASSERT_NE(entry, t_.settings.language.entries.end()) << "en.ini lacks " << key;
    EXPECT_EQ(english[name], entry->value) << name;
  }
  EXPECT_EQ(english["Titre"], "Dorvane - Version 3.0");
  EXPECT_EQ(t_.settings.language.constants[3], "Yes");
}

TEST_F(DesktopShellTest, GridFollowsARealInboundDialogueAndReusesItsRow) {
  shell_->Entry("mnustart").trigger();
  QTcpSocket client;
  client.connectToHost(QHostAddress::LocalHost, t_.settings.running.ListenPort);
  std::string received;
  auto say = [&](const std::string& line, const std::string& code) {
    if (!line.empty()) client.write(line.data(), static_cast<qint64>(line.size()));
    bool got = test::PumpUntil([&] {
      received += client.readAll().toStdString();
      return received.find("\r\n") != std::string::npos;
    });
    EXPECT_TRUE(got) << "no reply to " << line;
    EXPECT_EQ(received.substr(0, 3), code) << line << " -> " << received;
    received.clear();
  };
  say("", "220");
  say("HELO test\r\n", "250");
  say("MAIL FROM:<a@x.example>\r\n", "250");
  say("RCPT TO:<b@y.example>\r\n", "250");
  say("RCPT TO:<c@y.example>\r\n", "250");
  say("DATA\r\n", "354");
  say("Subject: t\r\n\r\nbody\r\n.\r\n", "250");
  say("QUIT\r\n", "221");
  ASSERT_TRUE(test::PumpUntil([&] { return shell_->stages.back() == "(free)"; }));

  std::vector<std::string> stages;
  for (const std::string& s : shell_->stages)
    if (stages.empty() || stages.back() != s) stages.push_back(s);
  EXPECT_EQ(stages, (std::vector<std::string>{"", "HELO", "MAIL FROM", "RCPT TO", "DATA", "", "QUIT", "(free)"}));
  EXPECT_NE(std::find(shell_->to.begin(), shell_->to.end(), "<b@y.example>: 1"), shell_->to.end());
  EXPECT_NE(std::find(shell_->to.begin(), shell_->to.end(), "<c@y.example>: 2"), shell_->to.end());
  EXPECT_EQ(shell_->rows.front(), 0);

  shell_->rows.clear();
  QTcpSocket second;
  second.connectToHost(QHostAddress::LocalHost, t_.settings.running.ListenPort);
  ASSERT_TRUE(test::PumpUntil([&] { return !shell_->rows.empty(); }));
  EXPECT_EQ(shell_->rows.front(), 0) << "the freed row is taken again";
}

}  // namespace
}  // namespace dorvane
