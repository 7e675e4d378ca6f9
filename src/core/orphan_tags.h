// Tags whose PLC went away while OPC items or monitors still held them.
// Looked up by item ID on every tag a load builds, and released one by one
// as clients let go, so both stay O(1) on average.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "model/norvo_var.h"

class TOrphanTags {
 public:
  // The first orphan (in the order added) with that item ID, case ignored.
  TNorvoVar* Find(std::string_view ItemID) const;
  bool Contains(const TNorvoVar* Tag) const { return FPos.contains(Tag); }
  void Add(std::unique_ptr<TNorvoVar> Tag);
  // Out of the list to the caller; null when it is not an orphan.
  std::unique_ptr<TNorvoVar> Take(const TNorvoVar* Tag);
  size_t size() const { return FTags.size(); }
  bool empty() const { return FTags.empty(); }
  // Unordered once tags have been taken.
  const std::vector<std::unique_ptr<TNorvoVar>>& Tags() const { return FTags; }

 private:
  std::vector<std::unique_ptr<TNorvoVar>> FTags;
  std::unordered_map<const TNorvoVar*, size_t> FPos;
  // Oldest first; several only when IDs collide.
  std::unordered_map<std::string, std::vector<TNorvoVar*>> FById;
};
