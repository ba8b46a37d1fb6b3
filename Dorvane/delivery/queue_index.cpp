#include "delivery/queue_index.h"

#include <algorithm>
#include <functional>

namespace dorvane {

namespace {

// Orders the heap with the oldest entry at its front.
constexpr std::greater<DeferredIndex::Entry> kOlderFirst;

}  // namespace

void DeferredIndex::Add(std::time_t modified, std::string name) {
  heap_.emplace_back(modified, std::move(name));
  std::push_heap(heap_.begin(), heap_.end(), kOlderFirst);
}

const DeferredIndex::Entry* DeferredIndex::Oldest() const { return heap_.empty() ? nullptr : &heap_.front(); }

DeferredIndex::Entry DeferredIndex::TakeOldest() {
  std::pop_heap(heap_.begin(), heap_.end(), kOlderFirst);
  Entry oldest = std::move(heap_.back());
  heap_.pop_back();
  return oldest;
}

void DeferredIndex::Reconcile(std::vector<std::string> listed, const TimeOf& time_of) {
  std::sort(listed.begin(), listed.end());
  std::vector<bool> known(listed.size(), false);
  std::erase_if(heap_, [&](const Entry& entry) {
    auto found = std::lower_bound(listed.begin(), listed.end(), entry.second);
    if (found == listed.end() || *found != entry.second) return true;  // gone from the folder
    known[static_cast<size_t>(found - listed.begin())] = true;
    return false;
  });
  for (size_t k = 0; k < listed.size(); ++k) {
    if (known[k]) continue;
    if (std::optional<std::time_t> modified = time_of(listed[k]))
      heap_.emplace_back(*modified, std::move(listed[k]));
  }
  std::make_heap(heap_.begin(), heap_.end(), kOlderFirst);
}

void PendingNames::Add(const std::string& name) {
  if (members_.insert(name).second) order_.push_back(name);
}

void PendingNames::PutBackFirst(const std::string& name) {
  if (members_.insert(name).second) order_.push_front(name);
}

bool PendingNames::Take(std::string* name) {
  if (order_.empty()) return false;
  *name = std::move(order_.front());
  order_.pop_front();
  members_.erase(*name);
  return true;
}

}  // namespace dorvane
