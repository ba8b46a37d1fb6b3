#include "qt/update_service.h"

#include <QTimer>

#include "base/dialogs.h"
#include "base/program.h"
#include "base/runtime_error.h"
#include "log/guard.h"
#include "qt/qt_socket.h"

namespace dorvane {

UpdateService::UpdateService(std::optional<UpdateServer> server, Dialogs& dialogs, std::function<void()> on_newer,
                             int limit_ms)
    : server_(std::move(server)), dialogs_(dialogs), on_newer_(std::move(on_newer)) {
  if (!server_) return;
  limit_ = std::make_unique<QTimer>();
  limit_->setSingleShot(true);
  limit_->setInterval(limit_ms);
  QObject::connect(limit_.get(), &QTimer::timeout, [this] {
    Guard("FRM:MAIN[tmrUpdateLimit_Timer]", [this] { check_->Expire(); });
  });
  socket_ = std::make_unique<QtSingleSocket>("Update");
  check_ = std::make_unique<UpdateCheck>(socket_->Control(), *server_,
                                         [this](UpdateCheck::Outcome outcome) { Done(outcome); });
  socket_->SetEvents(check_.get());
}

UpdateService::~UpdateService() {
  if (socket_) socket_->SetEvents(nullptr);
}

void UpdateService::StartBackground() {
  if (!check_ || check_->Running()) return;
  asked_ = false;
  Start();
}

void UpdateService::Start() {
  limit_->start();
  check_->Start();
}

void UpdateService::CheckNow() {
  if (!check_) {
    dialogs_.Notice("Aucun serveur de mises \xC3\xA0 jour n'est configur\xC3\xA9 (option --update-host).", "",
                    DialogIcon::Information);
    return;
  }
  asked_ = true;
  if (!check_->Running()) Start();
}

void UpdateService::Done(UpdateCheck::Outcome outcome) {
  limit_->stop();
  bool asked = asked_;
  asked_ = false;
  if (outcome == UpdateCheck::Outcome::Newer) {
    if (on_newer_) on_newer_();
    return;
  }
  if (!asked) return;
  if (outcome == UpdateCheck::Outcome::Current)
    dialogs_.Notice("Dorvane " + VersionText() + " est \xC3\xA0 jour.", "", DialogIcon::Information);
  else if (outcome == UpdateCheck::Outcome::TimedOut)
    dialogs_.Notice(kUpdateTimedOutText, "", DialogIcon::Information);
  else
    dialogs_.Notice("Le serveur de mises \xC3\xA0 jour n'a pas donn\xC3\xA9 de version.", "",
                    DialogIcon::Information);
}

}  // namespace dorvane
