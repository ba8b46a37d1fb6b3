#include "mx/mx_server.h"

#include <utility>

#include "base/runtime_error.h"

namespace dorvane {

CMXServer::CMXServer() { Clear(); }

CMXServer::CMXServer(std::vector<MXRecord> records) : records_(std::move(records)) {
  if (records_.empty()) records_.emplace_back();
}

MXRecord& CMXServer::At(int position) {
  if (position < 0 || position > Count()) Raise(kErrSubscript, "CMXServer", ErrorDescription(kErrSubscript));
  return records_[static_cast<size_t>(position)];
}

const MXRecord& CMXServer::At(int position) const {
  return const_cast<CMXServer*>(this)->At(position);
}

void CMXServer::Add(int16_t order, std::string host, std::string ip, double ttl) {
  records_.push_back(MXRecord{order, std::move(host), std::move(ip), ttl});
}

void CMXServer::Add(const MXRecord& record) { records_.push_back(record); }

void CMXServer::Clear() {
  records_.clear();
  records_.emplace_back();
}

void CMXServer::Swap(int a, int b) { std::swap(At(a), At(b)); }

void SortMXServer(int n, CMXServer& list, bool ascending) {
  for (int pass = 1; pass <= n - 1; ++pass) {
    for (int j = 1; j <= n - pass; ++j) {
      int16_t left = list.Order(j), right = list.Order(j + 1);
      if (ascending ? left > right : left < right) list.Swap(j, j + 1);
    }
  }
}

}  // namespace dorvane
