#include "platform/data_object.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>
#include <vector>

struct GlobalBlock {
  std::unique_ptr<uint8_t[]> bytes;
  size_t size = 0;
  uint32_t locks = 0;
};

namespace {
std::atomic<int64_t> g_globalLive{0};

struct FormatTable {
  std::mutex mutex;
  std::unordered_map<std::string, CLIPFORMAT> byName;
  std::vector<std::string> names;  // index = format - 0xC000
};

FormatTable& Formats() {
  static FormatTable table;
  return table;
}
}  // namespace

HGLOBAL GlobalAlloc(uint32_t /*flags*/, size_t bytes) {
  auto block = std::unique_ptr<GlobalBlock>(new (std::nothrow) GlobalBlock);
  if (!block) return nullptr;
  // At least one byte so a zero-sized block still has an address to lock.
  block->bytes.reset(new (std::nothrow) uint8_t[bytes == 0 ? 1 : bytes]());
  if (!block->bytes) return nullptr;
  block->size = bytes;
  g_globalLive.fetch_add(1, std::memory_order_relaxed);
  return block.release();  // owned by the handle until GlobalFree
}

void* GlobalLock(HGLOBAL block) {
  if (!block) return nullptr;
  ++block->locks;
  return block->bytes.get();
}

bool GlobalUnlock(HGLOBAL block) {
  if (!block || block->locks == 0) return false;
  return --block->locks > 0;
}

size_t GlobalSize(HGLOBAL block) { return block ? block->size : 0; }

HGLOBAL GlobalFree(HGLOBAL block) {
  if (!block) return nullptr;
  delete block;
  g_globalLive.fetch_sub(1, std::memory_order_relaxed);
  return nullptr;
}

int64_t GlobalLiveBlocks() { return g_globalLive.load(std::memory_order_relaxed); }

CLIPFORMAT RegisterClipboardFormat(const std::string& name) {
  if (name.empty()) return 0;
  FormatTable& t = Formats();
  std::lock_guard lock(t.mutex);
  auto it = t.byName.find(name);
  if (it != t.byName.end()) return it->second;
  if (t.names.size() >= 0x3FFF) return 0;
  auto format = static_cast<CLIPFORMAT>(0xC000 + t.names.size());
  t.names.push_back(name);
  t.byName.emplace(name, format);
  return format;
}

std::string GetClipboardFormatName(CLIPFORMAT format) {
  FormatTable& t = Formats();
  std::lock_guard lock(t.mutex);
  if (format < 0xC000 || format - 0xC000u >= t.names.size()) return {};
  return t.names[format - 0xC000u];
}

void ReleaseStgMedium(STGMEDIUM* medium) {
  if (!medium) return;
  if (medium->pUnkForRelease) {
    medium->pUnkForRelease->Release();
  } else if (medium->tymed == TYMED_HGLOBAL) {
    GlobalFree(medium->hGlobal);
  }
  medium->tymed = TYMED_NULL;
  medium->hGlobal = nullptr;
  medium->pUnkForRelease = nullptr;
}
