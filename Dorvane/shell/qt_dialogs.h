// Message boxes of the desktop: QMessageBox.
#pragma once

#include "base/dialogs.h"

namespace dorvane {

class QtDialogs : public Dialogs {
 public:
  void Message(const std::string& text, const std::string& title, DialogIcon icon) override;
  void Notice(const std::string& text, const std::string& title, DialogIcon icon) override;
  bool Question(const std::string& text, const std::string& title, bool default_yes) override;
};

}  // namespace dorvane
