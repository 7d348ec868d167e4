// A small map that iterates in insertion order, so that whoever walks it
// sees a stable order.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace kivo::toolkit {

template <class Key, class Value>
class OrderedMap {
 public:
  using Pair = std::pair<Key, Value>;

  // Value of `key`, or false when the key is absent.
  bool Lookup(const Key& key, Value& value) const {
    for (const Pair& p : pairs_) {
      if (p.first == key) {
        value = p.second;
        return true;
      }
    }
    return false;
  }
  bool Contains(const Key& key) const {
    Value ignored;
    return Lookup(key, ignored);
  }
  // Adds the key, or replaces its value in place.
  void SetAt(const Key& key, const Value& value) {
    for (Pair& p : pairs_) {
      if (p.first == key) {
        p.second = value;
        return;
      }
    }
    pairs_.emplace_back(key, value);
  }
  void RemoveAll() { pairs_.clear(); }
  size_t Count() const noexcept { return pairs_.size(); }
  bool Empty() const noexcept { return pairs_.empty(); }
  typename std::vector<Pair>::const_iterator begin() const noexcept { return pairs_.begin(); }
  typename std::vector<Pair>::const_iterator end() const noexcept { return pairs_.end(); }

 private:
  std::vector<Pair> pairs_;
};

// Text to text.
using StringMap = OrderedMap<std::wstring, std::wstring>;

}  // namespace kivo::toolkit
