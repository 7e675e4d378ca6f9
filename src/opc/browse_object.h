// A client's position in the address space and the name lists it browses.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "opc/opc_types.h"

class IOPCAddressSpace;
class TNorvoModel;
class TNorvoVar;

// One entry of a browse list: its text and the tag behind it, if any (the
// branch names "Sys" and PLC names have none).
struct TBrowseEntry {
  std::string text;
  const TNorvoVar* tag = nullptr;
  bool plcTag = false;  // a PLC variable, whose adding re-sorts the list
};

// The order of a browse list: each time a PLC tag joins, the whole list
// built so far is sorted by the tags' item IDs ignoring case, where an entry
// without a tag ranks equal to anything (so nothing passes it). The same
// order in one pass: the entries up to the last PLC tag, cut into runs at
// the entries without a tag, each run stably sorted; the rest as listed.
void SortBrowseList(std::vector<TBrowseEntry>& list);

class TBrowseObject {
 public:
  static constexpr int32_t kRoot = 0;
  static constexpr int32_t kPLC = 1;
  static constexpr int32_t kServerSys = 10;
  static constexpr int32_t kPLCSys = 11;

  // E_FAIL leaves the position as it was.
  HRESULT ChangeBrowsePosition(const IOPCAddressSpace& space, OPCBROWSEDIRECTION direction, const std::string& name);
  std::vector<std::string> Browse(const IOPCAddressSpace& space, OPCBROWSETYPE filter, bool hideArrayElements);
  std::string GetItemID(const std::string& name) const;
  // A PLC freed by a reload is let go; the position falls back to the root.
  void Validate(const IOPCAddressSpace& space);

  int32_t FPosition = kRoot;
  TNorvoModel* FPLC = nullptr;  // not owned; checked against the space before use
};
