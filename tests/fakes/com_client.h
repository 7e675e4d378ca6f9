// An in-process OPC client's toolkit for tests: activation by ProgID or
// CLSID, interface queries, references held by ComPtr, a private registry
// folder, and leak checks on the task allocator.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/com_object.h"
#include "platform/com_server.h"
#include "platform/registry.h"
#include "platform/variant.h"
#include "opc/opc_types.h"

namespace com_client {

// Points the registry at a fresh temporary folder for the scope and puts
// the previous location back afterwards.
class ScopedTempRegistry {
 public:
  ScopedTempRegistry() : previous_(GetRegistryLocation()) {
    std::string pattern = (std::filesystem::temp_directory_path() / "norvoopc-reg-XXXXXX").string();
    if (!mkdtemp(pattern.data())) ADD_FAILURE() << "mkdtemp failed";
    dir_ = pattern;
    SetRegistryLocation(RegistryLocation::InFolder(dir_));
  }
  ~ScopedTempRegistry() {
    SetRegistryLocation(previous_);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  ScopedTempRegistry(const ScopedTempRegistry&) = delete;
  ScopedTempRegistry& operator=(const ScopedTempRegistry&) = delete;

  const std::string& dir() const { return dir_; }

 private:
  RegistryLocation previous_;
  std::string dir_;
};

// Reads one string value of HKEY_CLASSES_ROOT; nullopt when the key or the
// value is missing.
inline std::optional<std::string> ClassesRootValue(const std::string& key, const std::string& name = "") {
  TRegistry reg(RegRoot::ClassesRoot);
  if (!reg.OpenKeyReadOnly(key)) return std::nullopt;
  return reg.ReadString(name);
}

inline bool ClassesRootKeyExists(const std::string& key) {
  TRegistry reg(RegRoot::ClassesRoot);
  return reg.KeyExists(key);
}

template <class I>
HRESULT Activate(std::string_view progId, ComPtr<I>* out) {
  return CreateInstanceByProgID(progId, IidOf<I>(), out->put_void());
}

template <class I>
HRESULT Activate(const CLSID& clsid, ComPtr<I>* out) {
  return CreateInstanceByClsid(clsid, IidOf<I>(), out->put_void());
}

template <class I, class From>
ComPtr<I> Query(const ComPtr<From>& from) {
  ComPtr<I> out;
  EXPECT_EQ(from.template As<I>(&out), S_OK);
  return out;
}

// The reference count an object has right now (AddRef and Release cancel).
inline uint32_t RefCount(IUnknown* p) {
  p->AddRef();
  return p->Release();
}

// Fails the test when blocks of the task allocator outlive the scope.
class TaskMemLeakCheck {
 public:
  TaskMemLeakCheck() : start_(CoTaskMemLiveBlocks()) {}
  ~TaskMemLeakCheck() { EXPECT_EQ(CoTaskMemLiveBlocks(), start_) << "task allocator blocks leaked"; }

 private:
  int64_t start_;
};

// ---- Memory the server hands over ---------------------------------------------
// What the client must release inside one element before the array itself.
inline void FreeElement(OPCITEMRESULT& r) { CoTaskMemFree(r.pBlob); }
inline void FreeElement(OPCITEMSTATE& s) { VariantClear(&s.vDataValue); }
inline void FreeElement(OPCITEMATTRIBUTES& a) {
  CoTaskMemFree(a.szAccessPath);
  CoTaskMemFree(a.szItemID);
  CoTaskMemFree(a.pBlob);
  VariantClear(&a.vEUInfo);
}
inline void FreeElement(OPCSERVERSTATUS& s) { CoTaskMemFree(s.szVendorInfo); }
inline void FreeElement(OLECHAR*& s) { CoTaskMemFree(s); }
template <class T>
void FreeElement(T&) {}

// An out array from the task allocator, released as a client must: each
// element's own memory, then the block. Set Count() for element clean-up.
template <class T>
class TaskOut {
 public:
  TaskOut() = default;
  ~TaskOut() { Free(); }
  TaskOut(const TaskOut&) = delete;
  TaskOut& operator=(const TaskOut&) = delete;

  T** put() {
    Free();
    return &p_;
  }
  void SetCount(size_t n) { n_ = n; }
  T* get() const { return p_; }
  T& operator[](size_t i) const { return p_[i]; }
  explicit operator bool() const { return p_ != nullptr; }
  void Free() {
    if (!p_) return;
    for (size_t i = 0; i < n_; ++i) FreeElement(p_[i]);
    CoTaskMemFree(p_);
    p_ = nullptr;
    n_ = 0;
  }

 private:
  T* p_ = nullptr;
  size_t n_ = 0;
};

// A wide string out parameter from the task allocator.
class TaskText {
 public:
  ~TaskText() { CoTaskMemFree(p_); }
  OLECHAR** put() {
    CoTaskMemFree(p_);
    p_ = nullptr;
    return &p_;
  }
  OLECHAR* get() const { return p_; }
  std::string Utf8() const { return Utf16ToUtf8(OleView(p_)); }

 private:
  OLECHAR* p_ = nullptr;
};

// Wide text for in parameters, kept alive by the caller.
inline std::u16string W(std::string_view utf8) { return Utf8ToUtf16(utf8); }

}  // namespace com_client
