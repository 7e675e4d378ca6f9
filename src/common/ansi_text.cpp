#include "common/ansi_text.h"

#include <cstdint>

namespace {

// Code points of the bytes 0x80..0x9F; the rest of the page equals Latin-1.
constexpr char16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char32_t CodePointOf(unsigned char b) {
  if (b >= 0x80 && b < 0xA0) return kHighControls[b - 0x80];
  return b;
}

int AnsiByteOf(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
  for (int i = 0; i < 32; ++i) {
    if (kHighControls[i] == cp) return 0x80 + i;
  }
  return -1;
}

}  // namespace

void AppendAnsiAsUtf8(std::string& out, std::string_view ansi) {
  // Most files are plain ASCII: copy runs of it in one go.
  size_t i = 0;
  const size_t n = ansi.size();
  while (i < n) {
    size_t run = i;
    while (run < n && static_cast<unsigned char>(ansi[run]) < 0x80) ++run;
    out.append(ansi.data() + i, run - i);
    if (run == n) break;
    const char32_t cp = CodePointOf(static_cast<unsigned char>(ansi[run]));
    if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
    i = run + 1;
  }
}

std::string AnsiToUtf8(std::string_view ansi) {
  std::string out;
  out.reserve(ansi.size());
  AppendAnsiAsUtf8(out, ansi);
  return out;
}

std::string Utf8ToAnsi(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  size_t i = 0;
  const size_t n = utf8.size();
  while (i < n) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    if (b < 0x80) {
      out.push_back(static_cast<char>(b));
      ++i;
      continue;
    }
    int len = 0;
    char32_t cp = 0;
    if ((b & 0xE0) == 0xC0) {
      len = 2;
      cp = b & 0x1F;
    } else if ((b & 0xF0) == 0xE0) {
      len = 3;
      cp = b & 0x0F;
    } else if ((b & 0xF8) == 0xF0) {
      len = 4;
      cp = b & 0x07;
    }
    bool ok = len > 0 && i + len <= n;
    for (int k = 1; ok && k < len; ++k) {
      const auto c = static_cast<unsigned char>(utf8[i + k]);
      if ((c & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (c & 0x3F);
    }
    if (!ok) {
      out.push_back('?');
      ++i;
      continue;
    }
    const int byte = AnsiByteOf(cp);
    out.push_back(byte < 0 ? '?' : static_cast<char>(byte));
    i += len;
  }
  return out;
}
