// A small string-to-string map that iterates in insertion order, so that
// whoever walks it sees a stable order.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace kivo::toolkit {

class StringMap {
 public:
  using Pair = std::pair<std::string, std::string>;

  // Value of `key`, or false when the key is absent.
  bool Lookup(const std::string& key, std::string& value) const {
    for (const Pair& p : pairs_) {
      if (p.first == key) {
        value = p.second;
        return true;
      }
    }
    return false;
  }
  bool Contains(const std::string& key) const {
    std::string ignored;
    return Lookup(key, ignored);
  }
  // Adds the key, or replaces its value in place.
  void SetAt(const std::string& key, const std::string& value) {
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
  std::vector<Pair>::const_iterator begin() const noexcept { return pairs_.begin(); }
  std::vector<Pair>::const_iterator end() const noexcept { return pairs_.end(); }

 private:
  std::vector<Pair> pairs_;
};

}  // namespace kivo::toolkit
