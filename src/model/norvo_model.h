// One PLC of a loaded project and the tags it owns.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "model/norvo_var.h"

class TNorvoModel {
 public:
  TNorvoModel() = default;
  TNorvoModel(const TNorvoModel&) = delete;
  TNorvoModel& operator=(const TNorvoModel&) = delete;

  // Its PLC tags in allocation-file order, array tags right before their
  // elements. Owned here until the project set releases them (a referenced
  // tag moves to the orphan list).
  std::vector<std::unique_ptr<TNorvoVar>> FTags;
  // The prefix of all its item IDs.
  std::string FName;
  // Counts as not responding.
  bool FTimedOut = false;
};

// Elements follow their array tag in the owner's list, so the walk starts
// right after the head instead of scanning the whole list each time.
template <class Fn>
void TNorvoVar::ForEachElement(Fn&& fn) const {
  if (!FOwner) return;
  const auto& tags = FOwner->FTags;
  if (FHeadIndexHint >= tags.size() || tags[FHeadIndexHint].get() != this) {
    size_t i = 0;
    while (i < tags.size() && tags[i].get() != this) ++i;
    if (i == tags.size()) {
      // Not in its owner's list: no position to start from, so scan it all.
      for (const auto& t : tags)
        if (t->FArrayHead == this) fn(*t);
      return;
    }
    FHeadIndexHint = i;
  }
  for (size_t i = FHeadIndexHint + 1; i < tags.size() && tags[i]->FArrayHead == this; ++i) fn(*tags[i]);
}
