// FRMExistUpdate: the small notice that a newer version exists. It sits in
// the bottom-right corner of the screen, names NewVersion and the running
// version, and closes itself after five seconds.
#pragma once

#include <QWidget>
#include <functional>

class QLabel;
class QTimer;

namespace dorvane {

constexpr int kExistUpdateTimeoutMs = 5000;

class ExistUpdateForm : public QWidget {
 public:
  // `on_update` runs when the user presses btnUpdate (the notice closes).
  explicit ExistUpdateForm(std::function<void()> on_update);

  // Shows a notice that deletes itself once closed; returns it.
  static ExistUpdateForm* ShowNotice(std::function<void()> on_update);

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  std::function<void()> on_update_;
  QTimer* timeout_;
};

}  // namespace dorvane
