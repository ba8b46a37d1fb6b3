#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include "base/program.h"
#include "gui_support.h"
#include "qt/tests/event_loop_support.h"
#include "qt/update_service.h"
#include "shell/exist_update_form.h"
#include "tests/support/test_harness.h"

namespace dorvane {
namespace {

// A web host on loopback that answers every request with `body`, the
// header and the body in two writes.
class VersionHost {
 public:
  explicit VersionHost(std::string body) : body_(std::move(body)) {
    server_.listen(QHostAddress("127.0.0.1"), 0);
    QObject::connect(&server_, &QTcpServer::newConnection, [this] {
      QTcpSocket* peer = server_.nextPendingConnection();
      QObject::connect(peer, &QTcpSocket::readyRead, [this, peer] {
        request += peer->readAll().toStdString();
        if (request.find("\r\n\r\n") == std::string::npos) return;
        peer->write("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n");
        QTimer::singleShot(30, peer, [this, peer] { peer->write(body_.c_str()); });
      });
      QObject::connect(peer, &QTcpSocket::disconnected, [this] { ++hung_up; });
    });
  }
  UpdateServer Server() const { return *ParseUpdateServer("127.0.0.1:" + std::to_string(server_.serverPort())); }

  std::string request;
  int hung_up = 0;

 private:
  std::string body_;
  QTcpServer server_;
};

ExistUpdateForm* Notice() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->objectName() == "FRMExistUpdate" && w->isVisible()) return static_cast<ExistUpdateForm*>(w);
  return nullptr;
}

class UpdateNoticeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::EnsureGuiApp();
    NewVersion.clear();
  }
  void TearDown() override {
    while (ExistUpdateForm* form = Notice()) form->close();
  }
  std::function<void()> ShowNotice() {
    return [] { ExistUpdateForm::ShowNotice(nullptr); };
  }
  TestProgram program_;
};

TEST_F(UpdateNoticeTest, NewerVersionBringsTheNoticeToTheCornerAsPlainNumbers) {
  // Whatever rides along the version stays out of the notice.
  VersionHost host("BEGIN3.1.<h1>Big</h1><img src='http://127.0.0.1/x.png'>" + std::string(60000, 'A') + "END");
  UpdateService updates(host.Server(), program_.dialogs, ShowNotice());
  updates.StartBackground();
  ASSERT_TRUE(test::PumpUntil([] { return Notice() != nullptr; }));
  EXPECT_EQ(host.request, VersionRequest(host.Server().host, VersionText()));
  ExistUpdateForm& form = *Notice();
  EXPECT_EQ(form.findChild<QLabel*>("lblNewVersion")->text().toStdString(), " La version 3.1 est disponible !");
  EXPECT_EQ(form.findChild<QLabel*>("lblNewVersion")->textFormat(), Qt::PlainText);
  EXPECT_EQ(NewVersion, "3.1");
  EXPECT_EQ(form.findChild<QLabel*>("lblCurrentVersion")->text().toStdString(), " Version actuelle: " + VersionText());
  QRect screen = QGuiApplication::primaryScreen()->geometry();
  EXPECT_EQ(form.frameGeometry().bottomRight(), screen.bottomRight());
  auto* timeout = form.findChild<QTimer*>("tmrTimeOut");
  EXPECT_TRUE(timeout->isActive());
  EXPECT_EQ(timeout->interval(), 5000);
  EXPECT_TRUE(program_.dialogs.boxes.empty());
}

TEST_F(UpdateNoticeTest, SameOrOlderVersionShowsNothing) {
  for (const char* body : {"BEGIN3.0END", "BEGIN2.9END"}) {
    VersionHost host(body);
    UpdateService updates(host.Server(), program_.dialogs, ShowNotice());
    updates.StartBackground();
    ASSERT_TRUE(test::PumpUntil([&] { return host.hung_up > 0; })) << body;  // the check closes once it has read
    EXPECT_EQ(Notice(), nullptr) << body;
    EXPECT_EQ(NewVersion, "") << body;
    EXPECT_TRUE(program_.dialogs.boxes.empty()) << body;
  }
}

TEST_F(UpdateNoticeTest, AnAskedCheckAlwaysAnswers) {
  VersionHost current("BEGIN3.0END"), garbled("BEGINthreeEND");
  struct Case {
    UpdateServer server;
    std::string box;
  } cases[] = {{current.Server(), "Dorvane 3.0 est \xC3\xA0 jour."},
               {garbled.Server(), "Le serveur de mises \xC3\xA0 jour n'a pas donn\xC3\xA9 de version."}};
  for (const Case& c : cases) {
    program_.dialogs.boxes.clear();
    UpdateService updates(c.server, program_.dialogs, ShowNotice());
    updates.CheckNow();
    ASSERT_TRUE(test::PumpUntil([&] { return !program_.dialogs.boxes.empty(); })) << c.box;
    EXPECT_EQ(program_.dialogs.boxes[0].text, c.box);
    EXPECT_EQ(Notice(), nullptr);
  }
}

TEST_F(UpdateNoticeTest, ASilentServerEndsTheAskedCheckAtItsTimeLimit) {
  QTcpServer silent;  // accepts, reads nothing, answers nothing
  ASSERT_TRUE(silent.listen(QHostAddress("127.0.0.1"), 0));
  UpdateService updates(ParseUpdateServer("127.0.0.1:" + std::to_string(silent.serverPort())), program_.dialogs,
                        ShowNotice(), 200);
  updates.CheckNow();
  ASSERT_TRUE(test::PumpUntil([&] { return !program_.dialogs.boxes.empty(); }));
  EXPECT_EQ(program_.dialogs.boxes[0].text, kUpdateTimedOutText);
  EXPECT_EQ(Notice(), nullptr);
}

TEST_F(UpdateNoticeTest, RefusedConnectionChangesNothing) {
  UpdateServer closed;
  {
    VersionHost gone("BEGIN9.9END");
    closed = gone.Server();
  }
  UpdateService updates(closed, program_.dialogs, ShowNotice());
  updates.StartBackground();
  test::PumpUntil([] { return Notice() != nullptr; }, 500);
  EXPECT_EQ(Notice(), nullptr);
  EXPECT_TRUE(program_.dialogs.boxes.empty());
  updates.CheckNow();  // asked: the failure is told, still no notice
  ASSERT_TRUE(test::PumpUntil([&] { return !program_.dialogs.boxes.empty(); }));
  EXPECT_EQ(NewVersion, "");
}

TEST_F(UpdateNoticeTest, UpdateButtonRunsTheUpdateAndCloses) {
  NewVersion = "3.1";
  int updates = 0;
  ExistUpdateForm* form = ExistUpdateForm::ShowNotice([&updates] { ++updates; });
  form->findChild<QPushButton*>("btnUpdate")->click();
  EXPECT_EQ(updates, 1);
  EXPECT_EQ(Notice(), nullptr);
}

}  // namespace
}  // namespace dorvane
