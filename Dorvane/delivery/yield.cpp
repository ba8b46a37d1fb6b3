#include "delivery/yield.h"

#include <QCoreApplication>
#include <utility>

namespace dorvane {
namespace {

std::function<void()>& Action() {
  static std::function<void()> action;
  return action;
}

}  // namespace

void YieldToEvents() {
  if (Action()) {
    Action()();
    return;
  }
  if (QCoreApplication::instance()) QCoreApplication::processEvents();
}

void SetYieldAction(std::function<void()> action) { Action() = std::move(action); }

}  // namespace dorvane
