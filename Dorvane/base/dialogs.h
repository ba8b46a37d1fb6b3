// Message boxes. On the desktop they are Qt message boxes; headless, the
// text goes to stderr and a question takes its default answer. Tests install
// a recording fake.
#pragma once

#include <string>

namespace dorvane {

enum class DialogIcon { None, Critical, Question, Exclamation, Information };

class Dialogs {
 public:
  virtual ~Dialogs() = default;

  // A modal box with an OK button; returns when it is closed. An empty title
  // means the program's name.
  virtual void Message(const std::string& text, const std::string& title, DialogIcon icon) = 0;

  // A box shown without stopping the event loop (nothing waits for it).
  virtual void Notice(const std::string& text, const std::string& title, DialogIcon icon) = 0;

  // A modal Yes/No question; returns true for Yes. Headless runs take
  // `default_yes`.
  virtual bool Question(const std::string& text, const std::string& title, bool default_yes) = 0;
  // Whether someone sees the boxes (false when they only go to standard
  // error, as in a headless run).
  virtual bool Visible() const { return true; }
};

// Writes every box to stderr; questions take their default answer.
class StderrDialogs : public Dialogs {
 public:
  void Message(const std::string& text, const std::string& title, DialogIcon icon) override;
  void Notice(const std::string& text, const std::string& title, DialogIcon icon) override;
  bool Question(const std::string& text, const std::string& title, bool default_yes) override;
  bool Visible() const override { return false; }
};

}  // namespace dorvane
