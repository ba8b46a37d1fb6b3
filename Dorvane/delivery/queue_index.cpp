#include "delivery/queue_index.h"

#include <algorithm>

namespace dorvane {

void DeferredIndex::Add(std::time_t modified, std::string name) { by_time_.emplace(modified, std::move(name)); }

const DeferredIndex::Entry* DeferredIndex::Oldest() const {
  return by_time_.empty() ? nullptr : &*by_time_.begin();
}

DeferredIndex::Entry DeferredIndex::TakeOldest() {
  return std::move(by_time_.extract(by_time_.begin()).value());
}

void DeferredIndex::Reconcile(std::vector<std::string> listed, const TimeOf& time_of) {
  std::sort(listed.begin(), listed.end());
  std::vector<bool> known(listed.size(), false);
  for (auto it = by_time_.begin(); it != by_time_.end();) {
    auto found = std::lower_bound(listed.begin(), listed.end(), it->second);
    if (found == listed.end() || *found != it->second) {
      it = by_time_.erase(it);  // gone from the folder
      continue;
    }
    known[static_cast<size_t>(found - listed.begin())] = true;
    ++it;
  }
  for (size_t k = 0; k < listed.size(); ++k) {
    if (known[k]) continue;
    if (std::optional<std::time_t> modified = time_of(listed[k])) Add(*modified, std::move(listed[k]));
  }
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
