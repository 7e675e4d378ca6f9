// Enumerators handed to clients. They share one contract: Next with a count
// of 0 or past the end answers 1781 (RPC_X_ENUM_VALUE_OUT_OF_RANGE), a
// success code, where COM usually has S_FALSE; Skip past the end answers
// S_FALSE; Clone starts again at the first element.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/com_enum.h"

// Checks Next's arguments; S_OK to go on, else the call's result.
HRESULT CheckEnumNext(uint32_t count, const void* items, const uint32_t* fetched, bool refuseNegative);
// Moves index by count, stopping at size.
HRESULT EnumSkip(size_t* index, size_t size, uint32_t count);

// A snapshot of object references (the groups of a server object). Holds
// a reference to each, so the objects outlive the client's own releases.
class TS3UnknownEnumerator final : public ComObject<IEnumUnknown> {
 public:
  explicit TS3UnknownEnumerator(std::vector<ComPtr<IUnknown>> objects) : FObjects(std::move(objects)) {}

  HRESULT Next(uint32_t count, IUnknown** items, uint32_t* fetched) override;
  HRESULT Skip(uint32_t count) override;
  HRESULT Reset() override;
  HRESULT Clone(IEnumUnknown** out) override;

 private:
  std::vector<ComPtr<IUnknown>> FObjects;
  size_t FIndex = 0;
};
