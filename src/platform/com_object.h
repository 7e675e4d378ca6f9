// The COM-style object runtime: reference counting, interface tables,
// the process-wide count of live objects and class factories.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <type_traits>
#include <utility>

#include "platform/unknown.h"

// Maps an interface type to its IID. Specialise with NORVO_COM_IID at global
// scope next to each interface declaration.
template <class I>
struct ComIid;

#define NORVO_COM_IID(Interface, iidValue)        \
  template <>                                     \
  struct ComIid<Interface> {                      \
    static constexpr IID value = iidValue;        \
  }

NORVO_COM_IID(IUnknown, IID_IUnknown);

template <class I>
constexpr const IID& IidOf() {
  return ComIid<I>::value;
}

// {00000001-0000-0000-C000-000000000046}
constexpr IID IID_IClassFactory{0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

struct IClassFactory : IUnknown {
  virtual HRESULT CreateInstance(IUnknown* outer, const IID& iid, void** out) = 0;
  virtual HRESULT LockServer(int32_t lock) = 0;

 protected:
  ~IClassFactory() = default;
};
NORVO_COM_IID(IClassFactory, IID_IClassFactory);

// ---- Smart pointer -----------------------------------------------------------
// Holds one reference. Construction from a raw pointer adds a reference;
// Attach adopts one the caller already owns (an out parameter's result).
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  explicit ComPtr(T* p) : p_(p) {
    if (p_) p_->AddRef();
  }
  ComPtr(const ComPtr& other) : ComPtr(other.p_) {}
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  ComPtr(const ComPtr<U>& other) : ComPtr(static_cast<T*>(other.get())) {}
  template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  ComPtr(ComPtr<U>&& other) noexcept : p_(other.Detach()) {}
  ~ComPtr() { Reset(); }

  ComPtr& operator=(const ComPtr& other) {
    ComPtr(other).Swap(*this);
    return *this;
  }
  ComPtr& operator=(ComPtr&& other) noexcept {
    ComPtr(std::move(other)).Swap(*this);
    return *this;
  }
  ComPtr& operator=(std::nullptr_t) {
    Reset();
    return *this;
  }

  static ComPtr Attach(T* p) {
    ComPtr r;
    r.p_ = p;
    return r;
  }
  T* Detach() { return std::exchange(p_, nullptr); }
  void Reset() {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  void Swap(ComPtr& other) noexcept { std::swap(p_, other.p_); }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T& operator*() const { return *p_; }
  explicit operator bool() const { return p_ != nullptr; }

  // For out parameters: drops the current reference and hands out the slot.
  T** put() {
    Reset();
    return &p_;
  }
  void** put_void() { return reinterpret_cast<void**>(put()); }

  // Queries for another interface; a null pointer gives E_POINTER.
  template <class U>
  HRESULT As(ComPtr<U>* out) const {
    if (!out) return E_POINTER;
    if (!p_) {
      *out = nullptr;
      return E_POINTER;
    }
    return p_->QueryInterface(IidOf<U>(), out->put_void());
  }
  template <class U>
  ComPtr<U> As() const {
    ComPtr<U> r;
    As(&r);
    return r;
  }

  // Hands out an added reference through a caller's out pointer.
  HRESULT CopyTo(T** out) const {
    if (!out) return E_POINTER;
    *out = p_;
    if (p_) p_->AddRef();
    return S_OK;
  }

  friend bool operator==(const ComPtr& a, const ComPtr& b) { return a.p_ == b.p_; }
  friend bool operator==(const ComPtr& a, std::nullptr_t) { return a.p_ == nullptr; }

 private:
  T* p_ = nullptr;
};

// ---- Process-wide object count ---------------------------------------------
// Every ComObject and every LockServer(TRUE) counts. When the count falls to
// zero the hook runs (an automation-started server ends its message loop).
int64_t ComLiveObjects();
void ComObjectCreated();
void ComObjectDestroyed();
void ComLockServer(bool lock);
// Replaces the hook; an empty function removes it.
void SetComLastReleaseHook(std::function<void()> hook);

// ---- Object base ------------------------------------------------------------
// Implements IUnknown for a class that derives from the listed interfaces.
// QueryInterface answers IUnknown (always through the first interface, so the
// identity pointer never changes), each listed interface, and whatever
// QueryExtraInterface adds. Objects are created with MakeComObject and live
// until their last Release.
template <class First, class... Rest>
class ComObject : public First, public Rest... {
 public:
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  HRESULT QueryInterface(const IID& iid, void** out) final {
    if (!out) return E_POINTER;
    *out = nullptr;
    void* found = nullptr;
    if (iid == IID_IUnknown) {
      found = Identity();
    } else if (!(found = Match<First>(iid)) && !((found = Match<Rest>(iid)) || ...)) {
      found = QueryExtraInterface(iid);
    }
    if (!found) return E_NOINTERFACE;
    AddRef();
    *out = found;
    return S_OK;
  }
  uint32_t AddRef() final { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
  uint32_t Release() final {
    uint32_t left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
  }

  IUnknown* Identity() { return static_cast<IUnknown*>(static_cast<First*>(this)); }

 protected:
  // Starts with one reference, adopted by MakeComObject, so that an AddRef
  // and Release pair inside a constructor cannot free the object.
  ComObject() { ComObjectCreated(); }
  virtual ~ComObject() { ComObjectDestroyed(); }

  // Further interfaces (a base interface reached through a listed one, a
  // tear-off); the result must already be the right interface pointer.
  virtual void* QueryExtraInterface(const IID&) { return nullptr; }

 private:
  template <class I>
  void* Match(const IID& iid) {
    return iid == IidOf<I>() ? static_cast<void*>(static_cast<I*>(this)) : nullptr;
  }

  std::atomic<uint32_t> refs_{1};
};

template <class T, class... Args>
ComPtr<T> MakeComObject(Args&&... args) {
  return ComPtr<T>::Attach(new T(std::forward<Args>(args)...));
}

// Hands out the interface `iid` of a freshly made object; the object goes
// away again when it lacks that interface.
template <class T>
HRESULT QueryNew(const ComPtr<T>& object, const IID& iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!object) return E_OUTOFMEMORY;
  return object->QueryInterface(iid, out);
}

// ---- Class factory -----------------------------------------------------------
using ComCreator = std::function<HRESULT(const IID& iid, void** out)>;

class TComClassFactory final : public ComObject<IClassFactory> {
 public:
  explicit TComClassFactory(ComCreator creator) : creator_(std::move(creator)) {}

  // Aggregation is not offered.
  HRESULT CreateInstance(IUnknown* outer, const IID& iid, void** out) override;
  HRESULT LockServer(int32_t lock) override;

 private:
  ComCreator creator_;
};
