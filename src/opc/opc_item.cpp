#include "opc/opc_item.h"

#include <cstring>

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

VARTYPE TOPCItem::CanonicalType() const { return FTag ? VarTypeVT(FTag->FVarType) : VARTYPE{VT_EMPTY}; }

void TOPCItem::GetEUInfo(VARIANT* out) {
  VariantInit(out);
  out->vt = VT_I4;
  out->lVal = 0;
}

void TOPCItem::GetValue(VARIANT* out) const {
  VariantClear(out);
  if (!FTag) return;
  if (IsArrayType(FTag->FVarType)) {
    FTag->GetValueVariant(out);
    return;
  }
  ComVariant raw;
  if (FTag->FVarType == ntString) {
    raw = ComVariant::FromString(FTag->FStrValue);
  } else if (FTag->FVarType == ntReal) {
    float f;
    static_assert(sizeof f == sizeof FTag->FValue);
    std::memcpy(&f, &FTag->FValue, sizeof f);
    raw->vt = VT_R4;
    raw->fltVal = f;
  } else {
    raw = ComVariant::FromI4(FTag->FValue);
  }
  const VARTYPE type = FRequestedType == VT_EMPTY ? CanonicalType() : FRequestedType;
  try {
    if (FAILED(VariantChangeType(out, raw.get(), 0, type))) VariantClear(out);
  } catch (const std::exception&) {
    VariantClear(out);
  }
}

FILETIME TOPCItem::TimeStampUtc() const {
  return FTag ? LocalDateTimeToUtcFileTime(FTag->FTimestamp) : FILETIME{0, 0};
}
