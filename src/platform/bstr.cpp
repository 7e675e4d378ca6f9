// BSTR: a task-allocator block holding a 32-bit byte length followed by the
// UTF-16 text and a terminating NUL; the BSTR points at the text.
#include <cstring>
#include <limits>

#include "platform/variant.h"

namespace {
constexpr size_t kPrefix = sizeof(uint32_t);

BSTR AllocBytes(const void* data, uint32_t bytes) {
  // Room for the prefix, the text and a two-byte NUL, plus one spare byte so
  // an odd byte length still ends in a whole NUL character.
  const size_t total = kPrefix + static_cast<size_t>(bytes) + sizeof(OLECHAR) + 1;
  auto* block = static_cast<unsigned char*>(CoTaskMemAlloc(total));
  if (!block) return nullptr;
  std::memcpy(block, &bytes, kPrefix);
  unsigned char* text = block + kPrefix;
  if (data) {
    std::memcpy(text, data, bytes);
  } else {
    std::memset(text, 0, bytes);
  }
  std::memset(text + bytes, 0, sizeof(OLECHAR) + 1);
  return reinterpret_cast<BSTR>(text);
}

// Bytes a BSTR may hold so the 32-bit prefix and the size sum stay valid.
constexpr uint32_t kMaxBytes = std::numeric_limits<uint32_t>::max() - 16;
}  // namespace

BSTR SysAllocString(const OLECHAR* text) {
  if (!text) return nullptr;
  size_t len = 0;
  while (text[len] != 0) ++len;
  if (len > kMaxBytes / sizeof(OLECHAR)) return nullptr;
  return AllocBytes(text, static_cast<uint32_t>(len * sizeof(OLECHAR)));
}

BSTR SysAllocStringLen(const OLECHAR* text, uint32_t len) {
  if (len > kMaxBytes / sizeof(OLECHAR)) return nullptr;
  return AllocBytes(text, static_cast<uint32_t>(len * sizeof(OLECHAR)));
}

BSTR SysAllocStringByteLen(const char* data, uint32_t bytes) {
  if (bytes > kMaxBytes) return nullptr;
  return AllocBytes(data, bytes);
}

void SysFreeString(BSTR s) {
  if (!s) return;
  CoTaskMemFree(reinterpret_cast<unsigned char*>(s) - kPrefix);
}

uint32_t SysStringByteLen(BSTR s) {
  if (!s) return 0;
  uint32_t bytes;
  std::memcpy(&bytes, reinterpret_cast<const unsigned char*>(s) - kPrefix, kPrefix);
  return bytes;
}

uint32_t SysStringLen(BSTR s) { return SysStringByteLen(s) / sizeof(OLECHAR); }

std::string BstrToUtf8(BSTR s) {
  if (!s) return {};
  return Utf16ToUtf8(std::u16string_view(s, SysStringLen(s)));
}

BSTR Utf8ToBstr(std::string_view text) {
  const std::u16string wide = Utf8ToUtf16(text);
  if (wide.size() > kMaxBytes / sizeof(OLECHAR)) return nullptr;
  return SysAllocStringLen(wide.data(), static_cast<uint32_t>(wide.size()));
}

std::u16string_view OleView(const OLECHAR* s) {
  if (!s) return {};
  return std::u16string_view(s);
}
