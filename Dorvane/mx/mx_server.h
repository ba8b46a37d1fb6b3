// CMXServer: the ordered list of mail hosts of one delivery. Position 0 is a
// placeholder whose Host carries the routing mark ("NONE" when there is no
// route); the hosts occupy positions 1 to Count().
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dorvane {

struct MXRecord {
  int16_t Order = 0;  // MX preference; 0 for a smarthost
  std::string Host;
  std::string IP;     // always empty as filled by this program
  double TTL = 0;     // seconds, as received; never compared with a clock

  bool operator==(const MXRecord&) const = default;
};

class CMXServer {
 public:
  // Starts as after Clear().
  CMXServer();
  // Positions 0 to n from `records` (a placeholder is added when empty).
  explicit CMXServer(std::vector<MXRecord> records);

  // The entry at `position` (0 to Count()); any other position throws
  // RuntimeError 9 (subscript out of range).
  MXRecord& At(int position);
  const MXRecord& At(int position) const;

  // Field readers of At(position).
  int16_t Order(int position) const { return At(position).Order; }
  const std::string& Host(int position) const { return At(position).Host; }
  const std::string& IP(int position) const { return At(position).IP; }
  double TTL(int position) const { return At(position).TTL; }

  // Appends an entry at position Count() + 1.
  void Add(int16_t order, std::string host, std::string ip, double ttl);
  void Add(const MXRecord& record);

  // The highest position: the number of hosts.
  int Count() const { return static_cast<int>(records_.size()) - 1; }

  // Keeps only an empty placeholder at position 0.
  void Clear();

  // Positions 0 to Count(), in order.
  const std::vector<MXRecord>& Records() const { return records_; }

  // Exchanges the entries at two valid positions.
  void Swap(int a, int b);

 private:
  std::vector<MXRecord> records_;
};

// Bubble sort of positions 1 to n by Order, ascending or descending. Only a
// strict comparison swaps, so entries of equal preference keep their order.
void SortMXServer(int n, CMXServer& list, bool ascending);

}  // namespace dorvane
