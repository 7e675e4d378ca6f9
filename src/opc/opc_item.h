// One item of a group: a client's view of one tag.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "opc/opc_types.h"

class TNorvoVar;
struct TQualityRules;
class TOPCGroup;

// Local time stamps converted to UTC, remembering the last few: the tags of
// one reply share a stamp, and a zone lookup costs far more than a compare.
// Meant for one reply or data change, so a zone change never meets a stale
// entry.
class TUtcStampCache {
 public:
  FILETIME Convert(TDateTime local);

 private:
  struct Slot {
    uint64_t key = 0;
    FILETIME utc{0, 0};
    bool used = false;
  };
  std::array<Slot, 16> slots_{};
};

class TOPCItem {
 public:
  // group: the owner, which outlives the item.
  TOPCItem(TOPCGroup* group, OPCHANDLE handle) : FGroup(group), FHandle(handle) {}
  // Lets go of the tag's reference.
  ~TOPCItem();
  TOPCItem(const TOPCItem&) = delete;
  TOPCItem& operator=(const TOPCItem&) = delete;

  // Counts the item in the new tag's FRefCount (and out of the old one's);
  // a different tag starts with an empty change memory.
  void BindTag(TNorvoVar* tag);
  // 0 (VT_EMPTY) asks for the canonical type.
  void SetRequestedType(VARTYPE type);
  // Another group's item, for a clone: same tag, ID, client handle and
  // type, inactive. The source reports its value again on its next change.
  void CopyFrom(TOPCItem& source);

  uint32_t AccessRights() const;
  bool IsWritable() const { return (AccessRights() & OPC_WRITEABLE) != 0; }
  uint16_t ItemQuality() const;
  uint16_t ItemQuality(const TQualityRules& rules) const;
  VARTYPE CanonicalType() const;
  // The tag's value in the requested type (arrays in their own form). A
  // value that does not convert leaves *out VT_EMPTY. *out must be empty or
  // initialised; its old content is cleared.
  void GetValue(VARIANT* out) const;
  // The tag's time stamp as UTC.
  FILETIME TimeStampUtc() const;
  FILETIME TimeStampUtc(TUtcStampCache& cache) const;
  // Engineering-unit info: always the 4-byte integer 0 (OPC_NOENUM).
  static void GetEUInfo(VARIANT* out);

  TNorvoVar* Tag() const { return FTag; }
  OPCHANDLE Handle() const { return FHandle; }

  // Ordered so that what the group timer reads on every pass (tag, handle,
  // change memory, active) shares the object's first cache line.
  TOPCGroup* FGroup;  // the owning group

 private:
  friend class TOPCGroup;  // hands out the handle

  TNorvoVar* FTag = nullptr;  // not owned; counted in its FRefCount
  OPCHANDLE FHandle;

 public:
  int32_t FLastValue = 0;
  uint16_t FLastQuality = 0;
  bool FActive = false;
  bool FHasLast = false;
  bool FRemoved = false;  // taken out by RemoveItems, freed at the end of the call
  VARTYPE FRequestedType = VT_EMPTY;
  OPCHANDLE FClientHandle = 0;
  std::string FItemID;
  static constexpr OPCEUTYPE FEUType = OPC_NOENUM;
};
