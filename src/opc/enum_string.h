// A snapshot of strings: group names and browse lists.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "opc/enum_unknown.h"

class TOPCStringsEnumerator final : public ComObject<IEnumString> {
 public:
  explicit TOPCStringsEnumerator(std::vector<std::u16string> strings) : FStrings(std::move(strings)) {}
  static ComPtr<TOPCStringsEnumerator> FromUtf8(const std::vector<std::string>& strings);

  // Each string handed out comes from the task allocator; the client frees it.
  HRESULT Next(uint32_t count, OLECHAR** items, uint32_t* fetched) override;
  HRESULT Skip(uint32_t count) override;
  HRESULT Reset() override;
  HRESULT Clone(IEnumString** out) override;

 private:
  std::vector<std::u16string> FStrings;
  size_t FIndex = 0;
};
