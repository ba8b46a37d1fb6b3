// KeyedCollection: an ordered collection of items, each stored under an
// optional key. Positions are 1-based. Items live on the heap, so a reference
// to one stays valid while it is in the collection.
#pragma once

#include <cstddef>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "dns/dns_error.h"

namespace mxfinder {

template <class T>
class KeyedCollection {
  struct Entry {
    std::string key;
    std::unique_ptr<T> item;
  };
  using Entries = std::vector<Entry>;

 public:
  // Enumeration in insertion order.
  template <class Base, class Value>
  class Iter {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = T;
    using difference_type = std::ptrdiff_t;
    using pointer = Value*;
    using reference = Value&;
    Iter() = default;
    explicit Iter(Base it) : it_(it) {}
    Value& operator*() const { return *it_->item; }
    Value* operator->() const { return it_->item.get(); }
    Iter& operator++() { ++it_; return *this; }
    Iter operator++(int) { Iter old = *this; ++it_; return old; }
    bool operator==(const Iter& other) const { return it_ == other.it_; }

   private:
    Base it_{};
  };
  using iterator = Iter<typename Entries::iterator, T>;
  using const_iterator = Iter<typename Entries::const_iterator, const T>;

  explicit KeyedCollection(const char* class_name) : class_name_(class_name) {}
  KeyedCollection(const KeyedCollection&) = delete;
  KeyedCollection& operator=(const KeyedCollection&) = delete;
  KeyedCollection(KeyedCollection&&) noexcept = default;
  KeyedCollection& operator=(KeyedCollection&&) noexcept = default;

  int Count() const { return static_cast<int>(entries_.size()); }

  // The item at 1-based `position`; error 9 when there is none.
  T& Item(int position) { return *entries_[Index(position, "Item")].item; }
  const T& Item(int position) const { return *entries_[Index(position, "Item")].item; }
  // The item stored under `key` (exact, case-sensitive); error 5 when none.
  T& Item(const std::string& key) { return *entries_[Index(key, "Item")].item; }
  const T& Item(const std::string& key) const { return *entries_[Index(key, "Item")].item; }

  // Removes by position or key, with the errors of Item.
  void Remove(int position) { entries_.erase(entries_.begin() + Index(position, "Remove")); }
  void Remove(const std::string& key) { entries_.erase(entries_.begin() + Index(key, "Remove")); }

  iterator begin() { return iterator(entries_.begin()); }
  iterator end() { return iterator(entries_.end()); }
  const_iterator begin() const { return const_iterator(entries_.begin()); }
  const_iterator end() const { return const_iterator(entries_.end()); }

 protected:
  // Appends `item` under `key` (no key when empty) and returns it; error 457
  // when the key is already taken.
  T& Append(T item, const std::string& key) {
    if (!key.empty() && Find(key) >= 0) RaiseDnsError(kDnsErrDuplicateKey, Source("Add"));
    entries_.push_back(Entry{key, std::make_unique<T>(std::move(item))});
    return *entries_.back().item;
  }

 private:
  std::string Source(const char* operation) const { return std::string(class_name_) + "." + operation; }

  int Find(const std::string& key) const {
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      if (entries_[i].key == key) return static_cast<int>(i);
    }
    return -1;
  }

  std::size_t Index(int position, const char* operation) const {
    if (position < 1 || position > Count()) RaiseDnsError(kDnsErrSubscript, Source(operation));
    return static_cast<std::size_t>(position - 1);
  }

  std::size_t Index(const std::string& key, const char* operation) const {
    int i = key.empty() ? -1 : Find(key);
    if (i < 0) RaiseDnsError(kDnsErrInvalidCall, Source(operation));
    return static_cast<std::size_t>(i);
  }

  const char* class_name_;
  Entries entries_;
};

}  // namespace mxfinder
