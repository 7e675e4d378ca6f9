// INI-style lookups over lines held elsewhere (blocks of a Zelta project file).
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class TMyIniFile {
 public:
  // The lines are read, not owned, and must outlive this object. A null list
  // stands for an empty one.
  explicit TMyIniFile(std::span<const std::string_view> Lines);
  explicit TMyIniFile(const std::vector<std::string_view>* Lines);
  explicit TMyIniFile(const std::vector<std::string>* Lines);

  // Index is the line after "[Name]"; Name is trimmed, letter case ignored.
  bool FindSection(std::string_view Name, int& Index) const;
  // The key is compared upper-cased but untrimmed, so "Count = 2" is not the
  // key "Count"; the value is everything after the first "=", untrimmed.
  bool FindKey(std::string_view Section, std::string_view Key, std::string_view& Value) const;
  std::string ReadString(std::string_view Section, std::string_view Key,
                         std::string_view Default) const;
  int ReadInteger(std::string_view Section, std::string_view Key, int Default) const;

  // Decimal integer in the 32-bit range, optional leading spaces and sign.
  static bool TryStrToInt(std::string_view Text, int& Value);

 private:
  // Projects carry thousands of sections and keys, so the lines are indexed
  // once on first use instead of being scanned per lookup.
  void IndexSections() const;
  const std::unordered_map<std::string, std::string_view>& KeysOf(int SectionStart) const;

  std::vector<std::string_view> FOwnViews;  // only for the std::string constructor
  std::span<const std::string_view> FLines;
  mutable bool FSectionsIndexed = false;
  mutable std::unordered_map<std::string, int> FSections;
  mutable std::unordered_map<int, std::unordered_map<std::string, std::string_view>> FKeys;
};
