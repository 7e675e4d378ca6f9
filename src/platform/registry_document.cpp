#include "platform/registry_document.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace {

constexpr std::string_view kSignature = "Windows Registry Editor Version 5.00";
constexpr std::string_view kSignature4 = "REGEDIT4";
constexpr size_t kHexLineWidth = 77;

// One code point from s[i...]; 0 when the bytes there are not UTF-8.
// Surrogate code points (ED A0..BF ..) are accepted so that text converted
// from unpaired UTF-16 comes back unchanged.
size_t DecodeUtf8(std::string_view s, size_t i, uint32_t& cp) {
  const auto b = [&](size_t k) { return static_cast<unsigned char>(s[i + k]); };
  const size_t n = s.size() - i;
  const unsigned char c = b(0);
  if (c < 0x80) {
    cp = c;
    return 1;
  }
  size_t len;
  uint32_t min;
  if ((c & 0xE0) == 0xC0) {
    len = 2, cp = c & 0x1Fu, min = 0x80;
  } else if ((c & 0xF0) == 0xE0) {
    len = 3, cp = c & 0x0Fu, min = 0x800;
  } else if ((c & 0xF8) == 0xF0) {
    len = 4, cp = c & 0x07u, min = 0x10000;
  } else {
    return 0;
  }
  if (n < len) return 0;
  for (size_t k = 1; k < len; ++k) {
    if ((b(k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b(k) & 0x3Fu);
  }
  if (cp < min || cp > 0x10FFFF) return 0;
  return len;
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Bytes that are not UTF-8 travel as the lone surrogates DC80..DCFF and come
// back as the same bytes, so no string is altered by the hex forms.
std::u16string ToUtf16(std::string_view s) {
  std::u16string out;
  for (size_t i = 0; i < s.size();) {
    uint32_t cp;
    const size_t len = DecodeUtf8(s, i, cp);
    if (len == 0) {
      out += static_cast<char16_t>(0xDC00 + static_cast<unsigned char>(s[i]));
      ++i;
      continue;
    }
    i += len;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

std::string FromUtf16(std::u16string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    const uint32_t u = s[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (s[i + 1] - 0xDC00u));
      ++i;
    } else if (u >= 0xDC80 && u <= 0xDCFF) {
      out += static_cast<char>(u - 0xDC00);
    } else {
      AppendUtf8(out, u);
    }
  }
  return out;
}

uint32_t FoldCodePoint(uint32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 32;
  if (c < 0xC0) return c;
  if (c <= 0xDE) return c == 0xD7 ? c : c + 32;
  if (c >= 0x100 && c <= 0x17F) {
    if (c == 0x178) return 0xFF;
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c + 1 : c;
    if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
    return (c & 1) ? c : c + 1;
  }
  if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 32;
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  if (c >= 0x410 && c <= 0x42F) return c + 32;
  return c;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(s[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
      return false;
  }
  return true;
}

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  return s;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A quoted string with \\ and \" escapes starting at s[i] == '"'; i ends
// after the closing quote. False when unterminated or with another escape.
bool ParseQuoted(std::string_view s, size_t& i, std::string& out) {
  ++i;
  while (i < s.size()) {
    const char c = s[i];
    if (c == '"') {
      ++i;
      return true;
    }
    if (c == '\\') {
      if (i + 1 >= s.size() || (s[i + 1] != '\\' && s[i + 1] != '"')) return false;
      out += s[i + 1];
      i += 2;
    } else {
      out += c;
      ++i;
    }
  }
  return false;
}

std::string Quote(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

bool ParseHexBytes(std::string_view s, std::string& bytes) {
  s = TrimLeft(TrimRight(s));
  if (s.empty()) return true;
  size_t i = 0;
  while (true) {
    s = TrimLeft(s.substr(i));
    if (s.size() < 2) return false;
    const int hi = HexDigit(s[0]), lo = HexDigit(s[1]);
    if (hi < 0 || lo < 0) return false;
    bytes += static_cast<char>(hi * 16 + lo);
    s = TrimLeft(s.substr(2));
    if (s.empty()) return true;
    if (s[0] != ',') return false;
    i = 1;
    if (TrimLeft(s.substr(1)).empty()) return true;  // a trailing comma is tolerated
  }
}

std::string HexLines(std::string prefix, std::string_view bytes) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  std::string line = std::move(prefix);
  for (size_t i = 0; i < bytes.size(); ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    std::string token{kHex[b >> 4], kHex[b & 15]};
    if (i + 1 < bytes.size()) token += ',';
    if (line.size() + token.size() > kHexLineWidth && line != "  ") {
      out += line + "\\\n";
      line = "  ";
    }
    line += token;
  }
  return out + line;
}

std::string Utf16Bytes(std::string_view text) {
  std::u16string u = ToUtf16(text);
  u += u'\0';
  std::string bytes;
  for (char16_t c : u) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  return bytes;
}

bool NeedsHexForm(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u < 0x20 && c != '\t';
  });
}

// Only hex data continues over several lines: "name"=hex...: ending in '\'.
bool StartsHexValue(std::string_view line) {
  line = TrimLeft(line);
  if (line.empty()) return false;
  size_t i = 1;
  std::string name;
  if (line[0] == '"') {
    i = 0;
    if (!ParseQuoted(line, i, name)) return false;
  } else if (line[0] != '@') {
    return false;
  }
  const std::string_view rest = TrimLeft(line.substr(i));
  return !rest.empty() && rest[0] == '=' && StartsWithNoCase(TrimLeft(rest.substr(1)), "hex");
}

bool EndsInBackslash(std::string_view line) {
  line = TrimRight(line);
  return !line.empty() && line.back() == '\\';
}

// Continued hex data is indented (or at least starts with a digit); a blank
// line, a header or the next value ends the data, so a truncated value never
// swallows what follows it.
bool ContinuesHexData(std::string_view line) {
  const std::string_view t = TrimLeft(TrimRight(line));
  return !t.empty() && (line[0] == ' ' || line[0] == '\t' || HexDigit(t[0]) >= 0);
}

// A kept text that a reader would continue onto the next line: the writer
// follows it by a blank line so that it comes back as it was.
bool KeptTextAsksForMore(std::string_view verbatim) {
  const size_t lastBreak = verbatim.rfind('\n');
  const std::string_view last = lastBreak == std::string_view::npos ? verbatim : verbatim.substr(lastBreak + 1);
  return EndsInBackslash(last) && StartsHexValue(verbatim.substr(0, verbatim.find('\n')));
}

enum class ValueParse { Ok, Delete, Bad };

// One logical value line (continuations joined) into `value`.
ValueParse ParseValueLine(std::string_view line, RegValueData& value, std::string& reason) {
  size_t i = 0;
  if (line[0] == '@') {
    value.name.clear();
    i = 1;
  } else if (line[0] == '"') {
    if (!ParseQuoted(line, i, value.name)) {
      reason = "malformed value name";
      return ValueParse::Bad;
    }
  } else {
    reason = "not a registry line";
    return ValueParse::Bad;
  }
  std::string_view rest = TrimLeft(line.substr(i));
  if (rest.empty() || rest[0] != '=') {
    reason = "'=' missing after the value name";
    return ValueParse::Bad;
  }
  rest = TrimLeft(TrimRight(rest.substr(1)));
  if (rest == "-") return ValueParse::Delete;
  if (!rest.empty() && rest[0] == '"') {
    size_t j = 0;
    value.type = RegType::Sz;
    if (!ParseQuoted(rest, j, value.text) || j != rest.size()) {
      reason = "malformed string";
      return ValueParse::Bad;
    }
    return ValueParse::Ok;
  }
  if (StartsWithNoCase(rest, "dword:")) {
    const std::string_view digits = rest.substr(6);
    if (digits.empty() || digits.size() > 8 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return HexDigit(c) >= 0; })) {
      reason = "malformed dword";
      return ValueParse::Bad;
    }
    value.type = RegType::Dword;
    value.dword = 0;
    for (char c : digits) value.dword = value.dword * 16 + static_cast<uint32_t>(HexDigit(c));
    return ValueParse::Ok;
  }
  if (StartsWithNoCase(rest, "hex")) {
    std::string_view t = rest.substr(3);
    uint32_t type = 3;  // REG_BINARY
    if (!t.empty() && t[0] == '(') {
      const size_t close = t.find(')');
      if (close == std::string_view::npos || close == 1 || close > 9) {
        reason = "malformed hex type";
        return ValueParse::Bad;
      }
      type = 0;
      for (char c : t.substr(1, close - 1)) {
        if (HexDigit(c) < 0) {
          reason = "malformed hex type";
          return ValueParse::Bad;
        }
        type = type * 16 + static_cast<uint32_t>(HexDigit(c));
      }
      t = t.substr(close + 1);
    }
    std::string bytes;
    if (t.empty() || t[0] != ':' || !ParseHexBytes(t.substr(1), bytes)) {
      reason = "malformed hex data";
      return ValueParse::Bad;
    }
    value.type = static_cast<RegType>(type);
    if ((type == 1 || type == 2) && bytes.size() % 2 == 0) {
      std::u16string u;
      for (size_t k = 0; k < bytes.size(); k += 2)
        u += static_cast<char16_t>(static_cast<unsigned char>(bytes[k]) |
                                   (static_cast<unsigned char>(bytes[k + 1]) << 8));
      if (!u.empty() && u.back() == u'\0') u.pop_back();
      value.text = FromUtf16(u);
    } else if (type == 4 && bytes.size() == 4) {
      value.dword = 0;
      for (int k = 3; k >= 0; --k) value.dword = (value.dword << 8) | static_cast<unsigned char>(bytes[k]);
    } else {
      value.raw = std::string(rest);
    }
    return ValueParse::Ok;
  }
  reason = "unknown value data";
  return ValueParse::Bad;
}

// Splits "HKEY_X\a\b" into the root and the path; false when a level is empty.
bool SplitHeaderPath(std::string_view inner, std::string_view& root, std::string_view& path) {
  const size_t slash = inner.find('\\');
  root = inner.substr(0, slash);
  path = slash == std::string_view::npos ? std::string_view{} : inner.substr(slash + 1);
  if (slash != std::string_view::npos && path.empty()) return false;
  return path.empty() || (path.front() != '\\' && path.back() != '\\' &&
                          path.find("\\\\") == std::string_view::npos);
  return true;
}

}  // namespace

std::string RegFoldName(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (size_t i = 0; i < name.size();) {
    const auto c = static_cast<unsigned char>(name[i]);
    if (c < 0x80) {
      out += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
      ++i;
      continue;
    }
    uint32_t cp;
    const size_t len = DecodeUtf8(name, i, cp);
    if (len == 0) {
      out += name[i++];
      continue;
    }
    // Every folded pair has the same encoded length, so byte offsets of the
    // folded text match the original.
    AppendUtf8(out, FoldCodePoint(cp));
    i += len;
  }
  return out;
}

// ---- RegKey

const RegValueData* RegKey::FindValue(std::string_view name) const {
  const auto it = valueIndex.find(RegFoldName(name));
  return it == valueIndex.end() ? nullptr : &entries[it->second].value;
}

bool RegKey::SetValue(const RegValueData& value) {
  const std::string folded = RegFoldName(value.name);
  const auto it = valueIndex.find(folded);
  if (it != valueIndex.end()) {
    RegValueData& old = entries[it->second].value;
    if (old.SameData(value)) return false;
    const std::string keptName = old.name;  // the stored case stays
    old = value;
    old.name = keptName;
    return true;
  }
  RegEntry e;
  e.value = value;
  entries.push_back(std::move(e));
  valueIndex.emplace(folded, entries.size() - 1);
  return true;
}

bool RegKey::DeleteValue(std::string_view name) {
  const auto it = valueIndex.find(RegFoldName(name));
  if (it == valueIndex.end()) return false;
  entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(it->second));
  Reindex();
  return true;
}

std::vector<std::string> RegKey::ValueNames() const {
  std::vector<std::string> names;
  for (const RegEntry& e : entries)
    if (e.isValue) names.push_back(e.value.name);
  return names;
}

void RegKey::Reindex() {
  valueIndex.clear();
  for (size_t i = 0; i < entries.size(); ++i)
    if (entries[i].isValue) valueIndex[RegFoldName(entries[i].value.name)] = i;
}

// ---- RegDocument

RegDocument::RegDocument(std::string rootName) : rootName_(std::move(rootName)) {
  keys_.emplace_back();
  keyIndex_.emplace("", 0);
}

void RegDocument::Reindex() {
  keyIndex_.clear();
  for (size_t i = 0; i < keys_.size(); ++i)
    if (!keys_[i].unreadableBlock) keyIndex_[keys_[i].folded] = i;
}

const RegKey* RegDocument::FindKey(std::string_view path) const {
  const auto it = keyIndex_.find(RegFoldName(path));
  return it == keyIndex_.end() ? nullptr : &keys_[it->second];
}

RegKey* RegDocument::FindKey(std::string_view path) {
  const auto it = keyIndex_.find(RegFoldName(path));
  return it == keyIndex_.end() ? nullptr : &keys_[it->second];
}

size_t RegDocument::InsertKey(std::string path) {
  RegKey key;
  key.folded = RegFoldName(path);
  key.path = std::move(path);
  // Right after the parent's subtree keeps the file in tree order.
  const size_t slash = key.folded.rfind('\\');
  size_t pos = keys_.size();
  if (slash != std::string::npos) {
    const std::string parent = key.folded.substr(0, slash);
    const std::string below = parent + "\\";
    for (size_t i = 0; i < keys_.size(); ++i) {
      const RegKey& k = keys_[i];
      if (!k.unreadableBlock && (k.folded == parent || k.folded.starts_with(below))) pos = i + 1;
    }
  }
  keys_.insert(keys_.begin() + static_cast<std::ptrdiff_t>(pos), std::move(key));
  Reindex();
  return pos;
}

RegKey& RegDocument::CreateKey(std::string_view path, bool& created) {
  created = false;
  size_t index = 0;
  size_t start = 0;
  while (start < path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view prefix = path.substr(0, end);
    const auto it = keyIndex_.find(RegFoldName(prefix));
    if (it != keyIndex_.end()) {
      index = it->second;
    } else {
      index = InsertKey(std::string(prefix));
      created = true;
    }
    start = end + 1;
  }
  return keys_[index];
}

bool RegDocument::DeleteKey(std::string_view path) {
  if (path.empty()) return false;
  const std::string folded = RegFoldName(path);
  if (!keyIndex_.contains(folded)) return false;
  const std::string below = folded + "\\";
  std::erase_if(keys_, [&](const RegKey& k) {
    return !k.unreadableBlock && (k.folded == folded || k.folded.starts_with(below));
  });
  Reindex();
  return true;
}

std::vector<std::string> RegDocument::SubkeyNames(std::string_view path) const {
  const std::string folded = RegFoldName(path);
  const std::string prefix = folded.empty() ? "" : folded + "\\";
  std::vector<std::pair<std::string, std::string>> found;  // folded, stored
  for (const RegKey& k : keys_) {
    if (k.unreadableBlock || k.folded.size() <= prefix.size() || !k.folded.starts_with(prefix))
      continue;
    if (k.folded.find('\\', prefix.size()) != std::string::npos) continue;
    found.emplace_back(k.folded.substr(prefix.size()), k.path.substr(prefix.size()));
  }
  std::sort(found.begin(), found.end());
  std::vector<std::string> names;
  for (auto& f : found) names.push_back(std::move(f.second));
  return names;
}

RegDocument RegDocument::Parse(std::string_view bytes, const std::string& rootName,
                               std::vector<RegBadLine>* bad) {
  RegDocument doc(rootName);
  std::string converted;
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    // Exported by the Windows editor: UTF-16LE.
    std::u16string u;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
      u += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                 (static_cast<unsigned char>(bytes[i + 1]) << 8));
    converted = FromUtf16(u);
    bytes = converted;
  } else if (bytes.starts_with("\xEF\xBB\xBF")) {
    bytes.remove_prefix(3);
  }

  std::vector<std::string_view> lines;
  for (size_t start = 0; start <= bytes.size();) {
    size_t end = bytes.find('\n', start);
    if (end == std::string_view::npos) end = bytes.size();
    std::string_view line = bytes.substr(start, end - start);
    // All of a run of CRs belongs to the line break: a kept line ending in a
    // stray CR would otherwise lose it on every rereading.
    while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    start = end + 1;
  }

  const std::string foldedRoot = RegFoldName(rootName);
  RegKey* current = nullptr;
  bool sawContent = false;
  const auto report = [&](int lineNo, std::string_view text, std::string reason) {
    if (bad) bad->push_back({lineNo, std::string(text), std::move(reason)});
  };
  const auto keep = [&](std::string text) {
    if (current) {
      RegEntry e;
      e.isValue = false;
      e.verbatim = std::move(text);
      current->entries.push_back(std::move(e));
    } else {
      doc.preamble_.push_back(std::move(text));
    }
  };

  for (size_t n = 0; n < lines.size(); ++n) {
    const int lineNo = static_cast<int>(n) + 1;
    const std::string_view line = TrimRight(lines[n]);
    const std::string_view trimmed = TrimLeft(line);
    if (trimmed.empty()) continue;
    if (!sawContent) {
      sawContent = true;
      if (trimmed == kSignature || trimmed == kSignature4) continue;
    }
    if (trimmed[0] == ';') {
      keep(std::string(lines[n]));
      continue;
    }
    if (trimmed[0] == '[') {
      std::string_view inner = trimmed.substr(1);
      std::string reason;
      if (inner.empty() || inner.back() != ']') {
        reason = "malformed key header";
      } else {
        inner.remove_suffix(1);
        const bool remove = !inner.empty() && inner[0] == '-';
        if (remove) inner.remove_prefix(1);
        std::string_view root, path;
        if (!SplitHeaderPath(inner, root, path)) {
          reason = "malformed key path";
        } else if (RegFoldName(root) != foldedRoot) {
          reason = "key of another root";
        } else if (remove) {
          doc.DeleteKey(path);
          current = nullptr;
          continue;
        } else {
          const auto it = doc.keyIndex_.find(RegFoldName(path));
          if (it != doc.keyIndex_.end()) {
            current = &doc.keys_[it->second];
          } else {
            // Parents named only through their children exist all the same.
            size_t start = 0;
            while (true) {
              const size_t end = path.find('\\', start);
              const std::string_view prefix = path.substr(0, end);
              const std::string folded = RegFoldName(prefix);
              if (!doc.keyIndex_.contains(folded)) {
                RegKey k;
                k.path = std::string(prefix);
                k.folded = folded;
                doc.keys_.push_back(std::move(k));
                doc.keyIndex_.emplace(folded, doc.keys_.size() - 1);
              }
              if (end == std::string_view::npos) break;
              start = end + 1;
            }
            current = &doc.keys_[doc.keyIndex_.at(RegFoldName(path))];
          }
          continue;
        }
      }
      // Values under a header we cannot place would land in the wrong key:
      // the whole block is kept as it stands.
      report(lineNo, lines[n], reason);
      RegKey block;
      block.unreadableBlock = true;
      doc.keys_.push_back(std::move(block));
      current = &doc.keys_.back();
      keep(std::string(lines[n]));
      continue;
    }

    std::string logical(trimmed);
    std::string verbatim(lines[n]);
    const bool hexValue = StartsHexValue(trimmed);
    while (hexValue && !logical.empty() && logical.back() == '\\' && n + 1 < lines.size() &&
           ContinuesHexData(lines[n + 1])) {
      logical.pop_back();
      ++n;
      logical += TrimLeft(TrimRight(lines[n]));
      verbatim += '\n';
      verbatim += lines[n];
    }
    if (current && current->unreadableBlock) {
      report(lineNo, verbatim, "value under an unreadable key header");
      keep(std::move(verbatim));
      continue;
    }
    RegValueData value;
    std::string reason;
    const ValueParse result = current ? ParseValueLine(logical, value, reason) : ValueParse::Bad;
    if (!current && reason.empty()) reason = "line outside any key";
    if (result == ValueParse::Bad) {
      report(lineNo, verbatim, reason);
      keep(std::move(verbatim));
    } else if (result == ValueParse::Delete) {
      current->DeleteValue(value.name);
    } else {
      current->SetValue(value);
    }
  }
  return doc;
}

std::string RegDocument::Serialize() const {
  std::string out(kSignature);
  out += "\n\n";
  for (size_t i = 0; i < preamble_.size(); ++i) {
    out += preamble_[i] + "\n";
    if (i + 1 < preamble_.size() && KeptTextAsksForMore(preamble_[i])) out += "\n";
  }
  if (!preamble_.empty()) out += "\n";
  for (const RegKey& key : keys_) {
    if (!key.unreadableBlock) {
      if (key.path.empty() && key.entries.empty()) continue;
      out += "[" + rootName_ + (key.path.empty() ? "" : "\\" + key.path) + "]\n";
    }
    for (size_t i = 0; i < key.entries.size(); ++i) {
      const RegEntry& e = key.entries[i];
      if (!e.isValue) {
        out += e.verbatim + "\n";
        if (i + 1 < key.entries.size() && KeptTextAsksForMore(e.verbatim)) out += "\n";
        continue;
      }
      const RegValueData& v = e.value;
      std::string line = v.name.empty() ? "@=" : Quote(v.name) + "=";
      if (!v.raw.empty()) {
        line += v.raw;
      } else if (v.type == RegType::Dword) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "dword:%08x", v.dword);
        line += buf;
      } else if (v.type == RegType::Sz && !NeedsHexForm(v.text)) {
        line += Quote(v.text);
      } else if (v.type == RegType::Sz || v.type == RegType::ExpandSz) {
        line = HexLines(line + (v.type == RegType::Sz ? "hex(1):" : "hex(2):"), Utf16Bytes(v.text));
      } else {
        char buf[24];
        std::snprintf(buf, sizeof buf, "hex(%x):", static_cast<unsigned>(v.type));
        line += buf;
      }
      out += line + "\n";
    }
    out += "\n";
  }
  return out;
}
