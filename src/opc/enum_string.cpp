#include "opc/enum_string.h"

#include <new>

#include "opc/opc_support.h"

ComPtr<TOPCStringsEnumerator> TOPCStringsEnumerator::FromUtf8(const std::vector<std::string>& strings) {
  std::vector<std::u16string> wide;
  wide.reserve(strings.size());
  for (const auto& s : strings) wide.push_back(Utf8ToUtf16(s));
  return MakeComObject<TOPCStringsEnumerator>(std::move(wide));
}

HRESULT TOPCStringsEnumerator::Next(uint32_t count, OLECHAR** items, uint32_t* fetched) {
  if (fetched) *fetched = 0;
  if (HRESULT hr = CheckEnumNext(count, items, fetched, true); hr != S_OK) return hr;
  uint32_t n = 0;
  for (; n < count && FIndex < FStrings.size(); ++n) {
    OLECHAR* s = TaskString(FStrings[FIndex]);
    if (!s) {
      // Nothing half-handed: free what this call gave out and stay put.
      for (uint32_t i = 0; i < n; ++i) {
        CoTaskMemFree(items[i]);
        items[i] = nullptr;
      }
      FIndex -= n;
      return E_OUTOFMEMORY;
    }
    items[n] = s;
    ++FIndex;
  }
  if (fetched) *fetched = n;
  return n == count ? S_OK : RPC_X_ENUM_VALUE_OUT_OF_RANGE;
}

HRESULT TOPCStringsEnumerator::Skip(uint32_t count) { return EnumSkip(&FIndex, FStrings.size(), count); }

HRESULT TOPCStringsEnumerator::Reset() {
  FIndex = 0;
  return S_OK;
}

HRESULT TOPCStringsEnumerator::Clone(IEnumString** out) {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  try {
    *out = MakeComObject<TOPCStringsEnumerator>(FStrings).Detach();
  } catch (const std::bad_alloc&) {
    return E_UNEXPECTED;
  }
  return S_OK;
}
