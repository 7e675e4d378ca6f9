// GUID / IID / CLSID with parsing and the braced text form.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];

  friend bool operator==(const GUID& a, const GUID& b);
  friend bool operator!=(const GUID& a, const GUID& b) { return !(a == b); }
};
static_assert(sizeof(GUID) == 16);

using IID = GUID;
using CLSID = GUID;
using CATID = GUID;

constexpr GUID GUID_NULL{0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

// Accepts "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (braces optional, hex in
// any case); nullopt on anything else.
std::optional<GUID> ParseGuid(std::string_view text);
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case, as the registry holds it.
std::string GuidToString(const GUID& g);

struct GuidHash {
  size_t operator()(const GUID& g) const noexcept;
};
