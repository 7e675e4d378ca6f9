// Small helpers shared by the OPC objects: debug-log tracing of calls and
// memory handed to clients.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "log/logger.h"
#include "platform/hresult.h"
#include "platform/variant.h"

// A traced call written as a block: the start line now, the end line with
// the result when the scope ends, on every exit path.
class TCallTrace {
 public:
  TCallTrace(TLogger& log, std::string name);
  ~TCallTrace();
  TCallTrace(const TCallTrace&) = delete;
  TCallTrace& operator=(const TCallTrace&) = delete;

  // Records the call's result and hands it back: `return trace.Return(hr);`
  HRESULT Return(HRESULT hr) {
    result_ = hr;
    return hr;
  }

 private:
  TLogger& log_;
  std::string name_;
  HRESULT result_ = E_UNEXPECTED;
};

// A traced call written as one line.
void TraceLine(TLogger& log, const std::string& name, HRESULT hr);

// A NUL-terminated wide string from the task allocator; null when out of
// memory.
OLECHAR* TaskString(std::u16string_view text);
OLECHAR* TaskStringUtf8(std::string_view utf8);

// Zeroed task-allocator memory for n elements; null when out of memory or
// when the size would overflow.
template <class T>
T* TaskArray(size_t n) {
  if (n > std::numeric_limits<size_t>::max() / sizeof(T)) return nullptr;
  void* p = CoTaskMemAlloc(n * sizeof(T));
  if (p) std::fill_n(static_cast<unsigned char*>(p), n * sizeof(T), 0);
  return static_cast<T*>(p);
}

// Counts above 2^31 - 1 are refused: no client has that many entries and
// the figure would go negative in signed arithmetic.
constexpr bool AbsurdCount(uint32_t n) { return n > static_cast<uint32_t>(std::numeric_limits<int32_t>::max()); }

// Owns a task-allocator block until it is handed to the client.
template <class T>
class TaskBlock {
 public:
  explicit TaskBlock(T* p = nullptr) : p_(p) {}
  ~TaskBlock() { CoTaskMemFree(p_); }
  TaskBlock(const TaskBlock&) = delete;
  TaskBlock& operator=(const TaskBlock&) = delete;
  T* get() const { return p_; }
  T& operator[](size_t i) const { return p_[i]; }
  explicit operator bool() const { return p_ != nullptr; }
  T* Release() {
    T* p = p_;
    p_ = nullptr;
    return p;
  }

 private:
  T* p_;
};
