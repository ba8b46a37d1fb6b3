#include "delivery/yield.h"

#include <QCoreApplication>
#include <utility>

namespace dorvane {
namespace {

std::function<void()>& Action() {
  static std::function<void()> action;
  return action;
}

// Handlers that run inside a yield do not yield again: with many sessions
// the nesting would otherwise grow with the traffic until the stack runs
// out. Their commands still leave when control returns to the event loop.
constexpr int kMaxYieldDepth = 1;
int g_depth = 0;

struct DepthScope {
  DepthScope() { ++g_depth; }
  ~DepthScope() { --g_depth; }
};

}  // namespace

void YieldToEvents() {
  if (g_depth >= kMaxYieldDepth) return;
  DepthScope scope;
  if (Action()) {
    Action()();
    return;
  }
  if (QCoreApplication::instance()) QCoreApplication::processEvents();
}

void SetYieldAction(std::function<void()> action) { Action() = std::move(action); }

}  // namespace dorvane
