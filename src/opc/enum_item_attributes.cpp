#include "opc/enum_item_attributes.h"

#include <algorithm>
#include <new>

#include "opc/opc_group.h"
#include "opc/opc_support.h"

TOPCItemAttEnumerator::TOPCItemAttEnumerator(TOPCGroup* group) : FGroup(group) {}

TOPCItemAttEnumerator::~TOPCItemAttEnumerator() = default;

void ClearItemAttributes(OPCITEMATTRIBUTES* r) {
  CoTaskMemFree(r->szAccessPath);
  CoTaskMemFree(r->szItemID);
  CoTaskMemFree(r->pBlob);
  VariantClear(&r->vEUInfo);
  r->szAccessPath = r->szItemID = nullptr;
  r->pBlob = nullptr;
}

namespace {

bool FillRecord(const TOPCItem& item, OPCITEMATTRIBUTES* r) {
  r->szAccessPath = TaskString(u"");
  r->szItemID = TaskStringUtf8(item.FItemID);
  if (!r->szAccessPath || !r->szItemID) return false;
  r->bActive = item.FActive ? -1 : 0;
  r->hClient = item.FClientHandle;
  r->hServer = item.Handle();
  r->dwAccessRights = item.AccessRights();
  r->dwBlobSize = 0;
  r->pBlob = nullptr;
  r->vtRequestedDataType = item.FRequestedType;
  r->vtCanonicalDataType = item.CanonicalType();
  r->dwEUType = TOPCItem::FEUType;
  TOPCItem::GetEUInfo(&r->vEUInfo);
  return true;
}

}  // namespace

HRESULT TOPCItemAttEnumerator::Next(uint32_t count, OPCITEMATTRIBUTES** items, uint32_t* fetched) {
  if (fetched) *fetched = 0;
  if (items) *items = nullptr;
  if (HRESULT hr = CheckEnumNext(count, items, fetched, false); hr != S_OK) return hr;
  const auto& list = FGroup->Items();
  const size_t left = FIndex < list.size() ? list.size() - FIndex : 0;
  // Sized for what is handed out, not for the count asked, so a huge count
  // costs nothing.
  const size_t n = std::min<size_t>(count, left);
  if (n == 0) return RPC_X_ENUM_VALUE_OUT_OF_RANGE;
  TaskBlock<OPCITEMATTRIBUTES> block(TaskArray<OPCITEMATTRIBUTES>(n));
  if (!block) return E_OUTOFMEMORY;
  for (size_t i = 0; i < n; ++i) {
    if (!FillRecord(*list[FIndex + i], &block[i])) {
      for (size_t j = 0; j <= i; ++j) ClearItemAttributes(&block[j]);
      return E_FAIL;
    }
  }
  FIndex += n;
  *items = block.Release();
  if (fetched) *fetched = static_cast<uint32_t>(n);
  return n == count ? S_OK : RPC_X_ENUM_VALUE_OUT_OF_RANGE;
}

HRESULT TOPCItemAttEnumerator::Skip(uint32_t count) { return EnumSkip(&FIndex, FGroup->Items().size(), count); }

HRESULT TOPCItemAttEnumerator::Reset() {
  FIndex = 0;
  return S_OK;
}

HRESULT TOPCItemAttEnumerator::Clone(IEnumOPCItemAttributes** out) {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  try {
    *out = MakeComObject<TOPCItemAttEnumerator>(FGroup.get()).Detach();
  } catch (const std::bad_alloc&) {
    return E_UNEXPECTED;
  }
  return S_OK;
}
