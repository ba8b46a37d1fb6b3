// The version check as the running program uses it: the `Update` socket,
// the check at the end of start-up (silent unless a newer version exists)
// and the check the user asks for from the menu (always answered).
#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "update/update_check.h"

class QTimer;

namespace dorvane {

class Dialogs;
class QtSingleSocket;

// How long a check may take before it ends as a failure: a server that
// accepts and stays silent must not keep the user waiting.
constexpr int kUpdateCheckLimitMs = 10000;
// The answer to an asked check that ran out of time.
inline constexpr const char* kUpdateTimedOutText =
    "Le serveur de mises \xC3\xA0 jour n'a pas r\xC3\xA9pondu \xC3\xA0 temps.";

class UpdateService {
 public:
  // `server` empty: the check is off. `on_newer` shows a newer version
  // (NewVersion is set); `dialogs` (which must outlive this object) answers
  // an asked check. A check ends after `limit_ms` at the latest.
  UpdateService(std::optional<UpdateServer> server, Dialogs& dialogs, std::function<void()> on_newer,
                int limit_ms = kUpdateCheckLimitMs);
  ~UpdateService();

  // Start-up's check: shows nothing unless a newer version exists.
  void StartBackground();
  // "Vérifier mises à jour": the outcome is told in a box.
  void CheckNow();

 private:
  void Start();
  void Done(UpdateCheck::Outcome outcome);

  std::optional<UpdateServer> server_;
  Dialogs& dialogs_;
  std::function<void()> on_newer_;
  std::unique_ptr<QtSingleSocket> socket_;
  std::unique_ptr<UpdateCheck> check_;
  std::unique_ptr<QTimer> limit_;
  bool asked_ = false;  // the running check was asked for by the user
};

}  // namespace dorvane
