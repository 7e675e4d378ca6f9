#include "opc/opc_item.h"

#include <bit>

#include "model/norvo_var.h"
#include "opc/opc_group.h"
#include "platform/date_time.h"

TOPCItem::~TOPCItem() { BindTag(nullptr); }

void TOPCItem::BindTag(TNorvoVar* tag) {
  if (tag == FTag) return;
  if (tag) ++tag->FRefCount;
  TNorvoVar* old = FTag;
  FTag = tag;
  FLastValue = 0;
  FHasLast = false;
  if (old) {
    --old->FRefCount;
    FGroup->TagReleased(old);
  }
}

void TOPCItem::SetRequestedType(VARTYPE type) { FRequestedType = type == VT_EMPTY ? CanonicalType() : type; }

void TOPCItem::CopyFrom(TOPCItem& source) {
  BindTag(source.FTag);
  FItemID = source.FItemID;
  FClientHandle = source.FClientHandle;
  FRequestedType = source.FRequestedType;
  FActive = false;
  source.FLastValue = 0;
  source.FHasLast = false;
}

uint32_t TOPCItem::AccessRights() const { return FTag ? static_cast<uint32_t>(FTag->FAccessRights) : OPC_READABLE; }

uint16_t TOPCItem::ItemQuality() const { return FTag ? FTag->GetQuality() : 0; }

uint16_t TOPCItem::ItemQuality(const TQualityRules& rules) const { return FTag ? FTag->GetQuality(rules) : 0; }

VARTYPE TOPCItem::CanonicalType() const { return FTag ? VarTypeVT(FTag->FVarType) : VARTYPE{VT_EMPTY}; }

void TOPCItem::GetEUInfo(VARIANT* out) {
  VariantInit(out);
  out->vt = VT_I4;
  out->lVal = 0;
}

namespace {

// A raw integer into its own canonical type or VT_I4, a real into VT_R4:
// what data changes ask for nearly always. Gives what the OLE coercion of
// the raw value gives (ranges checked, TRUE as all ones, a value out of
// range VT_EMPTY) without its general machinery. False: not such a case.
// *out is clear.
bool FastScalarValue(const TNorvoVar& tag, VARTYPE type, VARIANT* out) {
  if (tag.FVarType == ntReal) {
    if (type != VT_R4) return false;
    out->vt = VT_R4;
    out->fltVal = std::bit_cast<float>(tag.FValue);
    return true;
  }
  if (tag.FVarType == ntNone || tag.FVarType >= ntString) return false;
  const int32_t v = tag.FValue;
  switch (type) {
    case VT_I4:
      out->vt = VT_I4;
      out->lVal = v;
      return true;
    case VT_I2:
      if (v >= INT16_MIN && v <= INT16_MAX) {
        out->vt = VT_I2;
        out->iVal = static_cast<int16_t>(v);
      }
      return true;
    case VT_UI2:
      if (v >= 0 && v <= UINT16_MAX) {
        out->vt = VT_UI2;
        out->uiVal = static_cast<uint16_t>(v);
      }
      return true;
    case VT_BOOL:
      out->vt = VT_BOOL;
      out->boolVal = v != 0 ? VARIANT_TRUE : VARIANT_FALSE;
      return true;
    default:
      return false;
  }
}

}  // namespace

void TOPCItem::GetValue(VARIANT* out) const {
  VariantClear(out);
  if (!FTag) return;
  if (IsArrayType(FTag->FVarType)) {
    FTag->GetValueVariant(out);
    return;
  }
  const VARTYPE type = FRequestedType == VT_EMPTY ? CanonicalType() : FRequestedType;
  if (FastScalarValue(*FTag, type, out)) return;
  ComVariant raw;
  if (FTag->FVarType == ntString) {
    raw = ComVariant::FromString(FTag->FStrValue);
  } else if (FTag->FVarType == ntReal) {
    raw->vt = VT_R4;
    raw->fltVal = std::bit_cast<float>(FTag->FValue);
  } else {
    raw = ComVariant::FromI4(FTag->FValue);
  }
  try {
    if (FAILED(VariantChangeType(out, raw.get(), 0, type))) VariantClear(out);
  } catch (const std::exception&) {
    VariantClear(out);
  }
}

FILETIME TOPCItem::TimeStampUtc() const {
  return FTag ? LocalDateTimeToUtcFileTime(FTag->FTimestamp) : FILETIME{0, 0};
}

FILETIME TOPCItem::TimeStampUtc(TUtcStampCache& cache) const {
  return FTag ? cache.Convert(FTag->FTimestamp) : FILETIME{0, 0};
}

FILETIME TUtcStampCache::Convert(TDateTime local) {
  // Keyed by the bits, so every distinct stamp (NaN, -0 included) is its own.
  const uint64_t key = std::bit_cast<uint64_t>(local);
  Slot& slot = slots_[((key * 0x9E3779B97F4A7C15ull) >> 60) % slots_.size()];
  if (!slot.used || slot.key != key) {
    slot.key = key;
    slot.utc = LocalDateTimeToUtcFileTime(local);
    slot.used = true;
  }
  return slot.utc;
}
