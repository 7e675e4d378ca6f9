// The task allocator: plain heap blocks plus a live-block count, so tests can
// prove that every block handed across the client boundary is freed.
#include <atomic>
#include <cstdlib>

#include "platform/variant.h"

namespace {
std::atomic<int64_t> g_live_blocks{0};
}  // namespace

void* CoTaskMemAlloc(size_t size) {
  // A zero-byte request still gets its own block, so callers can tell
  // success from failure by the pointer alone.
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p) g_live_blocks.fetch_add(1, std::memory_order_relaxed);
  return p;
}

void* CoTaskMemRealloc(void* block, size_t size) {
  if (!block) return CoTaskMemAlloc(size);
  if (size == 0) {
    // OLE frees the block and hands back null.
    CoTaskMemFree(block);
    return nullptr;
  }
  // On failure the old block stays valid and counted.
  return std::realloc(block, size);
}

void CoTaskMemFree(void* block) {
  if (!block) return;
  std::free(block);
  g_live_blocks.fetch_sub(1, std::memory_order_relaxed);
}

int64_t CoTaskMemLiveBlocks() { return g_live_blocks.load(std::memory_order_relaxed); }
