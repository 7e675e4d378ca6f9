// 32-bit handles for server objects. An address does not fit in an
// OPCHANDLE on 64-bit systems, and a client may pass any number, so handles
// are looked up in a table and never dereferenced.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "opc/opc_types.h"

// One process-wide sequence per kind of object, so a handle names one
// object only, across groups and servers, and is not reused while the
// process runs (after 2^32 - 1 handles the tables skip those still taken).
class THandleCounter {
 public:
  OPCHANDLE Next() {
    if (++last_ == 0) {
      wrapped_ = true;
      last_ = 1;
    }
    return last_;
  }
  bool Wrapped() const { return wrapped_; }

 private:
  OPCHANDLE last_ = 0;
  bool wrapped_ = false;
};

// Handle -> object, not owning. Entries are kept sorted by handle; handles
// come in rising order, so adding is an append. Removal leaves a hole that
// later compaction drops, so removing many entries stays linear.
template <class T>
class THandleTable {
 public:
  explicit THandleTable(THandleCounter& counter) : counter_(&counter) {}

  OPCHANDLE Add(T* object) {
    OPCHANDLE h = counter_->Next();
    while (counter_->Wrapped() && Find(h)) h = counter_->Next();
    if (entries_.empty() || entries_.back().first < h) {
      entries_.emplace_back(h, object);
    } else if (auto it = LowerBound(h); it != entries_.end() && it->first == h) {
      it->second = object;  // a removed entry's slot
    } else {
      entries_.insert(it, {h, object});
    }
    ++live_;
    return h;
  }

  // Null for 0 and for every handle not in the table.
  T* Find(OPCHANDLE h) const {
    if (h == 0) return nullptr;
    auto it = LowerBound(h);
    return it != entries_.end() && it->first == h ? it->second : nullptr;
  }

  bool Remove(OPCHANDLE h) {
    if (h == 0) return false;
    auto it = LowerBound(h);
    if (it == entries_.end() || it->first != h || it->second == nullptr) return false;
    it->second = nullptr;
    --live_;
    if (entries_.size() > 64 && live_ < entries_.size() / 2) Compact();
    return true;
  }

  size_t Size() const { return live_; }
  void Reserve(size_t n) { entries_.reserve(n); }
  void Clear() {
    entries_.clear();
    live_ = 0;
  }

 private:
  using Entry = std::pair<OPCHANDLE, T*>;
  using Iter = typename std::vector<Entry>::const_iterator;

  Iter LowerBound(OPCHANDLE h) const {
    return std::lower_bound(entries_.begin(), entries_.end(), h,
                            [](const Entry& e, OPCHANDLE v) { return e.first < v; });
  }
  typename std::vector<Entry>::iterator LowerBound(OPCHANDLE h) {
    return std::lower_bound(entries_.begin(), entries_.end(), h,
                            [](const Entry& e, OPCHANDLE v) { return e.first < v; });
  }
  void Compact() {
    std::erase_if(entries_, [](const Entry& e) { return e.second == nullptr; });
  }

  THandleCounter* counter_;  // not owned; process-wide
  std::vector<Entry> entries_;
  size_t live_ = 0;
};
