// In-memory form of one registry root file (the text format of registry
// export files) with case-insensitive lookup. Lines it cannot read are kept
// verbatim where they stood, so rewriting the file never loses them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/registry.h"

// Folds a key or value name for comparison: ASCII, Latin-1, Latin
// Extended-A, Greek and Cyrillic capitals to small letters. Bytes that are
// not valid UTF-8 compare as themselves.
std::string RegFoldName(std::string_view name);

struct RegValueData {
  std::string name;  // "" is the default value
  RegType type = RegType::Sz;
  std::string text;   // REG_SZ / REG_EXPAND_SZ
  uint32_t dword = 0; // REG_DWORD
  // Data of a value this store does not interpret (other types, malformed
  // UTF-16), kept as the text after '='; such a value is unreadable.
  std::string raw;
  bool Readable() const { return raw.empty(); }
  bool SameData(const RegValueData& o) const {
    return type == o.type && text == o.text && dword == o.dword && raw == o.raw;
  }
};

// A line of a key block: a value, or text kept verbatim (comments and
// unreadable lines, possibly several physical lines).
struct RegEntry {
  bool isValue = true;
  RegValueData value;
  std::string verbatim;
};

struct RegKey {
  std::string path;  // levels joined by '\', stored case; "" is the root
  std::string folded;  // RegFoldName(path)
  // A block under a header that could not be read: all its lines verbatim.
  bool unreadableBlock = false;
  std::vector<RegEntry> entries;
  std::unordered_map<std::string, size_t> valueIndex;  // folded name -> entry

  const RegValueData* FindValue(std::string_view name) const;
  // Returns true when something changed.
  bool SetValue(const RegValueData& value);
  bool DeleteValue(std::string_view name);
  std::vector<std::string> ValueNames() const;
  void Reindex();
};

struct RegBadLine {
  int line = 0;
  std::string text;
  std::string reason;
};

class RegDocument {
 public:
  // rootName is the root every header must name ("HKEY_LOCAL_MACHINE").
  static RegDocument Parse(std::string_view bytes, const std::string& rootName,
                           std::vector<RegBadLine>* bad);
  std::string Serialize() const;

  explicit RegDocument(std::string rootName = {});

  const RegKey* FindKey(std::string_view path) const;
  RegKey* FindKey(std::string_view path);
  // Creates the key and any missing parents; returns the key. `created`
  // tells whether anything was added.
  RegKey& CreateKey(std::string_view path, bool& created);
  // Deletes the key and everything below it; false when it does not exist.
  bool DeleteKey(std::string_view path);
  // Names of the direct subkeys, stored case, sorted case-insensitively.
  std::vector<std::string> SubkeyNames(std::string_view path) const;
  size_t KeyCount() const { return keys_.size(); }

 private:
  size_t InsertKey(std::string path);
  void Reindex();

  std::string rootName_;
  // Comments and unreadable lines before the first header.
  std::vector<std::string> preamble_;
  // keys_[0] is the root key (path ""); unreadable blocks have no index.
  std::vector<RegKey> keys_;
  std::unordered_map<std::string, size_t> keyIndex_;  // folded path -> key
};
