#include "net/timer.h"

#include <algorithm>
#include <string>

#include "net/timer_support.h"

namespace mxfinder {
namespace {

// Removes every entry equal to `id` from a list of "id;" entries. Entries
// are compared whole, so removing 1 leaves 11 and 21 alone.
void RemoveEntries(std::string& list, int32_t id) {
  const std::string entry = std::to_string(id);
  std::string kept;
  std::size_t start = 0;
  while (start < list.size()) {
    std::size_t end = list.find(';', start);
    if (end == std::string::npos) end = list.size();
    if (list.compare(start, end - start, entry) != 0) kept += list.substr(start, end - start) + ";";
    start = end + 1;
  }
  list = kept;
}

bool HasEntry(const std::string& list, int32_t id) {
  const std::string entry = std::to_string(id) + ";";
  for (std::size_t at = list.find(entry); at != std::string::npos; at = list.find(entry, at + 1)) {
    if (at == 0 || list[at - 1] == ';') return true;
  }
  return false;
}

}  // namespace

CTimer::~CTimer() {
  for (int32_t id : std::vector<int32_t>(started_)) StopTimer(id);
}

// Windows would raise a period of 0 to its minimum of 10 ms; a Qt timer of 0
// would fire on every pass of the event loop instead.
int CTimer::PeriodMilliseconds() const { return std::max(10, timeout_value_ * 1000); }

void CTimer::StartTimer(int32_t& id) {
  id = MTimerSupport::NewTimerId();
  MTimerSupport::StartSystemTimer(id, PeriodMilliseconds());
  started_.push_back(id);
}

bool CTimer::Timeout(int32_t id) const { return HasEntry(MTimerSupport::FiredTimers(), id); }

void CTimer::StopTimer(int32_t id) {
  MTimerSupport::KillSystemTimer(id);
  RemoveEntries(MTimerSupport::FiredTimers(), id);
  std::erase(started_, id);
}

void CTimer::Reset() {
  for (int32_t id : started_) MTimerSupport::StartSystemTimer(id, PeriodMilliseconds());
  MTimerSupport::FiredTimers().clear();
}

}  // namespace mxfinder
