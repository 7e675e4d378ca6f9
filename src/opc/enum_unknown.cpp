#include "opc/enum_unknown.h"

#include <limits>
#include <new>

HRESULT CheckEnumNext(uint32_t count, const void* items, const uint32_t* fetched, bool refuseNegative) {
  if (count == 0 || (refuseNegative && count > static_cast<uint32_t>(std::numeric_limits<int32_t>::max())))
    return RPC_X_ENUM_VALUE_OUT_OF_RANGE;
  // The fetched count is required even for one element: callers of this
  // server have always been refused without it.
  if (!items || !fetched) return E_INVALIDARG;
  return S_OK;
}

HRESULT EnumSkip(size_t* index, size_t size, uint32_t count) {
  const size_t left = *index < size ? size - *index : 0;
  if (count > left) {
    *index = size;
    return S_FALSE;
  }
  *index += count;
  return S_OK;
}

HRESULT TS3UnknownEnumerator::Next(uint32_t count, IUnknown** items, uint32_t* fetched) {
  if (fetched) *fetched = 0;
  if (HRESULT hr = CheckEnumNext(count, items, fetched, true); hr != S_OK) return hr;
  uint32_t n = 0;
  for (; n < count && FIndex < FObjects.size(); ++n, ++FIndex) FObjects[FIndex].CopyTo(&items[n]);
  if (fetched) *fetched = n;
  return n == count ? S_OK : RPC_X_ENUM_VALUE_OUT_OF_RANGE;
}

HRESULT TS3UnknownEnumerator::Skip(uint32_t count) { return EnumSkip(&FIndex, FObjects.size(), count); }

HRESULT TS3UnknownEnumerator::Reset() {
  FIndex = 0;
  return S_OK;
}

HRESULT TS3UnknownEnumerator::Clone(IEnumUnknown** out) {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  try {
    *out = MakeComObject<TS3UnknownEnumerator>(FObjects).Detach();
  } catch (const std::bad_alloc&) {
    return E_UNEXPECTED;
  }
  return S_OK;
}
