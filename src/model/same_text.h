// Letter case is ignored in item IDs, tag names and PLC names the way the
// original server did it: ASCII letters only, other bytes compared as they are.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

constexpr char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

inline bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}

// The key under which a case-insensitive index files a text.
inline std::string LowerText(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

// Hash and equality that ignore ASCII letter case, for maps searched with
// any string_view without building a lower-case copy first.
struct CaseInsensitiveHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const noexcept {
    uint64_t h = 14695981039346656037ull;  // FNV-1a
    for (char c : s) {
      h ^= static_cast<unsigned char>(AsciiLower(c));
      h *= 1099511628211ull;
    }
    return static_cast<size_t>(h);
  }
};

struct CaseInsensitiveEqual {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const noexcept { return SameText(a, b); }
};
