// Letter case is ignored in item IDs, tag names and PLC names the way the
// original server did it: ASCII letters only, other bytes compared as they are.
#pragma once

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
