#include "core/orphan_tags.h"

#include <algorithm>

#include "model/same_text.h"

TNorvoVar* TOrphanTags::Find(std::string_view ItemID) const {
  const auto it = FById.find(LowerText(ItemID));
  return it == FById.end() ? nullptr : it->second.front();
}

void TOrphanTags::Add(std::unique_ptr<TNorvoVar> Tag) {
  if (!Tag || Contains(Tag.get())) return;
  FById[LowerText(Tag->FItemID)].push_back(Tag.get());
  FPos[Tag.get()] = FTags.size();
  FTags.push_back(std::move(Tag));
}

std::unique_ptr<TNorvoVar> TOrphanTags::Take(const TNorvoVar* Tag) {
  const auto pos = FPos.find(Tag);
  if (pos == FPos.end()) return nullptr;
  const size_t i = pos->second;
  FPos.erase(pos);
  const auto byId = FById.find(LowerText(Tag->FItemID));
  if (byId != FById.end()) {
    std::erase(byId->second, Tag);
    if (byId->second.empty()) FById.erase(byId);
  }
  std::unique_ptr<TNorvoVar> out = std::move(FTags[i]);
  // Swap with the last so the removal stays O(1).
  if (i + 1 != FTags.size()) {
    FTags[i] = std::move(FTags.back());
    FPos[FTags[i].get()] = i;
  }
  FTags.pop_back();
  return out;
}
