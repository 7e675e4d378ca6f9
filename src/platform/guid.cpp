#include "platform/guid.h"

#include <cstdio>
#include <cstring>

bool operator==(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

namespace {
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ReadHex(std::string_view text, size_t pos, size_t digits, uint64_t& out) {
  out = 0;
  for (size_t i = 0; i < digits; ++i) {
    int v = HexValue(text[pos + i]);
    if (v < 0) return false;
    out = (out << 4) | static_cast<uint64_t>(v);
  }
  return true;
}
}  // namespace

std::optional<GUID> ParseGuid(std::string_view text) {
  if (text.size() == 38) {
    if (text.front() != '{' || text.back() != '}') return std::nullopt;
    text = text.substr(1, 36);
  }
  if (text.size() != 36 || text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-') {
    return std::nullopt;
  }
  GUID g{};
  uint64_t v = 0;
  if (!ReadHex(text, 0, 8, v)) return std::nullopt;
  g.Data1 = static_cast<uint32_t>(v);
  if (!ReadHex(text, 9, 4, v)) return std::nullopt;
  g.Data2 = static_cast<uint16_t>(v);
  if (!ReadHex(text, 14, 4, v)) return std::nullopt;
  g.Data3 = static_cast<uint16_t>(v);
  static constexpr size_t kBytePos[8] = {19, 21, 24, 26, 28, 30, 32, 34};
  for (size_t i = 0; i < 8; ++i) {
    if (!ReadHex(text, kBytePos[i], 2, v)) return std::nullopt;
    g.Data4[i] = static_cast<uint8_t>(v);
  }
  return g;
}

std::string GuidToString(const GUID& g) {
  char buf[39];
  std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
                g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return buf;
}

size_t GuidHash::operator()(const GUID& g) const noexcept {
  uint64_t a = 0, b = 0;
  std::memcpy(&a, &g, 8);
  std::memcpy(&b, reinterpret_cast<const char*>(&g) + 8, 8);
  return static_cast<size_t>(a * 0x9E3779B97F4A7C15ull ^ (b + 0x7F4A7C159E3779B9ull + (a << 6) + (a >> 2)));
}
