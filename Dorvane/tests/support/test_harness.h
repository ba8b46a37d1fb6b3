// Helpers for the tests of every module: a throw-away program folder, a
// recording Dialogs, and a trap that turns the fatal-error report's exit
// into a ProgramEnded exception so a test can observe it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/dialogs.h"
#include "log/logs.h"

namespace dorvane {

// Records every box instead of showing it; questions answer `answer`.
class RecordingDialogs : public Dialogs {
 public:
  struct Box {
    std::string text;
    std::string title;
    DialogIcon icon;
  };

  void Message(const std::string& text, const std::string& title, DialogIcon icon) override;
  void Notice(const std::string& text, const std::string& title, DialogIcon icon) override;
  bool Question(const std::string& text, const std::string& title, bool default_yes) override;

  std::vector<Box> boxes;
  bool answer = true;
  // Recorded boxes count as seen only when set (a headless run by default).
  bool Visible() const override { return visible; }
  bool visible = false;
};

// While alive: a fresh empty program folder (a temporary directory, removed
// afterwards), a fatal report that shows its box on `dialogs` and throws
// ProgramEnded in place of ending the process, and the user's configuration folders
// (XDG_CONFIG_HOME, DORVANE_REGISTRY_ROOT) inside the temporary directory and
// XDG_RUNTIME_DIR unset, so no test touches the real ones. Restores what it
// changed.
class TestProgram {
 public:
  TestProgram();
  ~TestProgram();
  TestProgram(const TestProgram&) = delete;
  TestProgram& operator=(const TestProgram&) = delete;

  // Folder + name.
  std::string Path(const std::string& name) const;
  // The whole content of a file of the folder; "" when it is missing.
  std::string Read(const std::string& name) const;
  // Creates (or replaces) a file of the folder with `bytes`.
  void Write(const std::string& name, const std::string& bytes) const;
  // The names in a folder of the program folder, sorted; none when missing.
  std::vector<std::string> List(const std::string& folder) const;

  const std::string& folder() const { return folder_; }
  // The fatal report's debug entry goes to `logs` (which must outlive the
  // program) from now on.
  void UseLogs(Logs& logs);
  RecordingDialogs dialogs;

 private:
  std::string folder_;
  std::string previous_folder_;
  FatalReport previous_report_;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_env_;
};

}  // namespace dorvane
