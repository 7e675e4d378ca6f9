#include "opc/project_address_space.h"

#include <algorithm>

#include "core/opc_project.h"
#include "model/same_text.h"

TNorvoModel* IOPCAddressSpace::FindPLCByName(std::string_view name) const {
  for (const auto& plc : PLCs()) {
    if (SameText(plc->FName, name)) return plc.get();
  }
  return nullptr;
}

bool IOPCAddressSpace::ContainsPLC(const TNorvoModel* plc) const {
  const auto plcs = PLCs();
  return plc && std::any_of(plcs.begin(), plcs.end(), [plc](const auto& p) { return p.get() == plc; });
}

TNorvoVar* TProjectAddressSpace::FindItem(const std::string& itemID) { return FProject.FindItem(itemID); }

void TProjectAddressSpace::TagUnreferenced(TNorvoVar* tag) {
  // Only an orphan is let go: a tag its PLC still lists stays for the next
  // client. The project set frees an unreferenced orphan at once.
  if (tag && tag->FOrphan && tag->FRefCount <= 0 && FProject.FOrphanTags.Contains(tag)) FProject.ReleaseTag(tag);
}

std::span<const std::unique_ptr<TNorvoVar>> TProjectAddressSpace::ServerSysTags() const { return FProject.FSysTags; }

std::span<const std::unique_ptr<TNorvoModel>> TProjectAddressSpace::PLCs() const { return FProject.FPLCs; }

TNorvoModel* TProjectAddressSpace::FindPLCByName(std::string_view name) const { return FProject.FindPLCByName(name); }

bool TProjectAddressSpace::ContainsPLC(const TNorvoModel* plc) const { return FProject.ContainsPLC(plc); }
