#include "opc/opc_item.h"

#include "model/norvo_var.h"
#include "opc/opc_group.h"

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
