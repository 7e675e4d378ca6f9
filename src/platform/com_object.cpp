#include "platform/com_object.h"

#include <mutex>

namespace {
std::atomic<int64_t> g_live{0};
std::atomic<int64_t> g_locks{0};

// The hook is set at start-up and by tests; a mutex keeps a late change safe
// against an object dying on another thread.
std::mutex& HookMutex() {
  static std::mutex m;
  return m;
}
std::function<void()>& Hook() {
  static std::function<void()> hook;
  return hook;
}

void CountDown() {
  if (g_live.fetch_sub(1, std::memory_order_acq_rel) - 1 != 0) return;
  std::function<void()> hook;
  {
    std::lock_guard lock(HookMutex());
    hook = Hook();
  }
  if (hook) hook();
}
}  // namespace

int64_t ComLiveObjects() { return g_live.load(std::memory_order_acquire); }

void ComObjectCreated() { g_live.fetch_add(1, std::memory_order_relaxed); }

void ComObjectDestroyed() { CountDown(); }

void ComLockServer(bool lock) {
  if (lock) {
    g_locks.fetch_add(1, std::memory_order_relaxed);
    g_live.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  // A client's unbalanced unlock must not eat another object's count.
  int64_t locks = g_locks.load(std::memory_order_relaxed);
  while (locks > 0 && !g_locks.compare_exchange_weak(locks, locks - 1, std::memory_order_relaxed)) {
  }
  if (locks > 0) CountDown();
}

void SetComLastReleaseHook(std::function<void()> hook) {
  std::lock_guard lock(HookMutex());
  Hook() = std::move(hook);
}

HRESULT TComClassFactory::CreateInstance(IUnknown* outer, const IID& iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  if (!creator_) return CLASS_E_CLASSNOTAVAILABLE;
  return creator_(iid, out);
}

HRESULT TComClassFactory::LockServer(int32_t lock) {
  ComLockServer(lock != 0);
  return S_OK;
}
