// Registry export-file parser on arbitrary bytes: what one parse reads must
// survive being written out and read again, and writing is a fixed point.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry_document.h"

namespace {

void SameEntries(const RegKey& a, const RegKey& b) {
  if (a.path != b.path || a.entries.size() != b.entries.size()) __builtin_trap();
  for (size_t i = 0; i < a.entries.size(); ++i) {
    const RegEntry& x = a.entries[i];
    const RegEntry& y = b.entries[i];
    if (x.isValue != y.isValue) __builtin_trap();
    if (x.isValue ? (x.value.name != y.value.name || !x.value.SameData(y.value)) : x.verbatim != y.verbatim)
      __builtin_trap();
  }
}

// Every key reachable from the root, with its values, in both documents.
void SameTree(const RegDocument& a, const RegDocument& b, const std::string& path, int depth) {
  const RegKey* ka = a.FindKey(path);
  const RegKey* kb = b.FindKey(path);
  if (ka == nullptr || kb == nullptr) __builtin_trap();
  SameEntries(*ka, *kb);
  const std::vector<std::string> names = a.SubkeyNames(path);
  if (names != b.SubkeyNames(path)) __builtin_trap();
  if (depth > 64) return;  // deep chains are covered by the text comparison
  for (const std::string& name : names) SameTree(a, b, path.empty() ? name : path + "\\" + name, depth + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::string root = "HKEY_LOCAL_MACHINE";
  std::vector<RegBadLine> bad1, bad2;
  const RegDocument first = RegDocument::Parse(bytes, root, &bad1);
  const std::string text = first.Serialize();
  const RegDocument second = RegDocument::Parse(text, root, &bad2);
  // Unreadable lines are kept as they stood, so they are unreadable again;
  // none appear from nowhere (those of a deleted key go with it).
  if (bad2.size() > bad1.size()) __builtin_trap();
  if (first.KeyCount() != second.KeyCount()) __builtin_trap();
  SameTree(first, second, "", 0);
  if (second.Serialize() != text) __builtin_trap();
  return 0;
}
