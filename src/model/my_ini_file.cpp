#include "model/my_ini_file.h"

#include <charconv>
#include <cstdint>

namespace {

std::string UpperAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
  return s;
}

}  // namespace

bool TMyIniFile::TryStrToInt(std::string_view Text, int& Value) {
  while (!Text.empty() && Text.front() == ' ') Text.remove_prefix(1);
  bool negative = false;
  if (!Text.empty() && (Text.front() == '+' || Text.front() == '-')) {
    negative = Text.front() == '-';
    Text.remove_prefix(1);
  }
  if (Text.empty()) return false;
  std::uint64_t magnitude = 0;
  const auto [end, ec] = std::from_chars(Text.data(), Text.data() + Text.size(), magnitude);
  if (ec != std::errc() || end != Text.data() + Text.size()) return false;
  if (negative ? magnitude > 2147483648ULL : magnitude > 2147483647ULL) return false;
  const auto v = static_cast<std::int64_t>(magnitude);
  Value = static_cast<int>(negative ? -v : v);
  return true;
}

TMyIniFile::TMyIniFile(std::span<const std::string_view> Lines) : FLines(Lines) {}

TMyIniFile::TMyIniFile(const std::vector<std::string_view>* Lines) {
  if (Lines != nullptr) FLines = std::span<const std::string_view>(*Lines);
}

TMyIniFile::TMyIniFile(const std::vector<std::string>* Lines) {
  if (Lines != nullptr) {
    FOwnViews.assign(Lines->begin(), Lines->end());
    FLines = std::span<const std::string_view>(FOwnViews);
  }
}

void TMyIniFile::IndexSections() const {
  FSectionsIndexed = true;
  for (size_t i = 0; i < FLines.size(); ++i) {
    const std::string_view line = FLines[i];
    if (line.size() < 2 || line.front() != '[' || line.back() != ']') continue;
    // The first section of a name wins.
    FSections.try_emplace(UpperAscii(line.substr(1, line.size() - 2)), static_cast<int>(i + 1));
  }
}

bool TMyIniFile::FindSection(std::string_view Name, int& Index) const {
  if (!FSectionsIndexed) IndexSections();
  const auto it = FSections.find(UpperAscii(TrimBlanks(Name)));
  if (it == FSections.end()) return false;
  Index = it->second;
  return true;
}

const std::unordered_map<std::string, std::string_view>& TMyIniFile::KeysOf(
    int SectionStart) const {
  auto [it, inserted] = FKeys.try_emplace(SectionStart);
  if (inserted) {
    for (size_t i = static_cast<size_t>(SectionStart); i < FLines.size(); ++i) {
      const std::string_view line = FLines[i];
      if (line.empty() || line.front() == '[') break;
      const size_t eq = line.find('=');
      if (eq == std::string_view::npos) continue;
      it->second.try_emplace(UpperAscii(line.substr(0, eq)), line.substr(eq + 1));
    }
  }
  return it->second;
}

bool TMyIniFile::FindKey(std::string_view Section, std::string_view Key,
                         std::string_view& Value) const {
  int start = 0;
  if (!FindSection(Section, start)) return false;
  const auto& keys = KeysOf(start);
  const auto it = keys.find(UpperAscii(Key));
  if (it == keys.end()) return false;
  Value = it->second;
  return true;
}

std::string TMyIniFile::ReadString(std::string_view Section, std::string_view Key,
                                   std::string_view Default) const {
  std::string_view value;
  return std::string(FindKey(Section, Key, value) ? value : Default);
}

int TMyIniFile::ReadInteger(std::string_view Section, std::string_view Key, int Default) const {
  std::string_view value;
  int result = Default;
  if (FindKey(Section, Key, value) && TryStrToInt(value, result)) return result;
  return Default;
}
