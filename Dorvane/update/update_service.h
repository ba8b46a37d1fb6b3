// The version check as the running program uses it: the `Update` socket,
// the check at the end of start-up (silent unless a newer version exists)
// and the check the user asks for from the menu (always answered).
#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "update/update_check.h"

namespace dorvane {

class QtSingleSocket;

class UpdateService {
 public:
  // `server` empty: the check is off. `on_newer` shows a newer version
  // (NewVersion is set).
  UpdateService(std::optional<UpdateServer> server, std::function<void()> on_newer);
  ~UpdateService();

  // Start-up's check: shows nothing unless a newer version exists.
  void StartBackground();
  // "Vérifier mises à jour": the outcome is told in a box.
  void CheckNow();

 private:
  void Done(UpdateCheck::Outcome outcome);

  std::optional<UpdateServer> server_;
  std::function<void()> on_newer_;
  std::unique_ptr<QtSingleSocket> socket_;
  std::unique_ptr<UpdateCheck> check_;
  bool asked_ = false;  // the running check was asked for by the user
};

}  // namespace dorvane
