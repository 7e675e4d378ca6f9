// Client sinks for OPC callback tests: an IOPCDataCallback that records
// every call with copies of its arrays, and an IAdviseSink that keeps the
// bytes of each DA 1.0a stream.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "opc/opc_da.h"
#include "platform/data_object.h"

namespace opc_sinks {

struct Entry {
  OPCHANDLE client = 0;
  VARTYPE vt = VT_EMPTY;
  double value = 0;  // numeric values, through VT_R8
  uint16_t quality = 0;
  FILETIME time{};
  HRESULT error = S_OK;
};

struct Call {
  enum Kind { DataChange, ReadComplete, WriteComplete, CancelComplete } kind;
  uint32_t transactionID = 0;
  OPCHANDLE group = 0;
  HRESULT masterQuality = S_OK, masterError = S_OK;
  std::vector<Entry> entries;
};

class DataCallback final : public ComObject<IOPCDataCallback> {
 public:
  HRESULT OnDataChange(uint32_t tid, OPCHANDLE group, HRESULT mq, HRESULT me, uint32_t count, OPCHANDLE* h,
                       VARIANT* v, uint16_t* q, FILETIME* t, HRESULT* e) override {
    Record(Call::DataChange, tid, group, mq, me, count, h, v, q, t, e);
    return S_OK;
  }
  HRESULT OnReadComplete(uint32_t tid, OPCHANDLE group, HRESULT mq, HRESULT me, uint32_t count, OPCHANDLE* h,
                         VARIANT* v, uint16_t* q, FILETIME* t, HRESULT* e) override {
    Record(Call::ReadComplete, tid, group, mq, me, count, h, v, q, t, e);
    return S_OK;
  }
  HRESULT OnWriteComplete(uint32_t tid, OPCHANDLE group, HRESULT me, uint32_t count, OPCHANDLE* h,
                          HRESULT* e) override {
    Call c{Call::WriteComplete, tid, group, S_OK, me, {}};
    for (uint32_t i = 0; i < count; ++i) c.entries.push_back(Entry{h[i], VT_EMPTY, 0, 0, {}, e[i]});
    calls.push_back(c);
    return S_OK;
  }
  HRESULT OnCancelComplete(uint32_t tid, OPCHANDLE group) override {
    calls.push_back(Call{Call::CancelComplete, tid, group, S_OK, S_OK, {}});
    return S_OK;
  }

  std::vector<Call> calls;
  std::function<void()> during;  // run inside each data or read call

 private:
  void Record(Call::Kind kind, uint32_t tid, OPCHANDLE group, HRESULT mq, HRESULT me, uint32_t count, OPCHANDLE* h,
              VARIANT* v, uint16_t* q, FILETIME* t, HRESULT* e) {
    Call c{kind, tid, group, mq, me, {}};
    for (uint32_t i = 0; i < count; ++i) {
      Entry en{h[i], v[i].vt, 0, q[i], t[i], e[i]};
      VARIANT r8;
      VariantInit(&r8);
      if (!(v[i].vt & VT_ARRAY) && SUCCEEDED(VariantChangeType(&r8, &v[i], 0, VT_R8))) en.value = r8.dblVal;
      VariantClear(&r8);
      c.entries.push_back(en);
    }
    calls.push_back(c);
    if (during) during();
  }
};

class AdviseSink final : public ComObject<IAdviseSink> {
 public:
  void OnDataChange(FORMATETC* format, STGMEDIUM* medium) override {
    formats.push_back(format->cfFormat);
    const void* p = GlobalLock(medium->hGlobal);
    const size_t n = GlobalSize(medium->hGlobal);
    blocks.emplace_back(static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + n);
    GlobalUnlock(medium->hGlobal);
  }
  void OnViewChange(uint32_t, int32_t) override {}
  void OnRename(IMoniker*) override {}
  void OnSave() override {}
  void OnClose() override {}

  std::vector<CLIPFORMAT> formats;
  std::vector<std::vector<uint8_t>> blocks;
};

// Little-endian bytes of hand-built expected blocks.
class Bytes {
 public:
  Bytes& U16(uint16_t v) { return Put(&v, 2); }
  Bytes& U32(uint32_t v) { return Put(&v, 4); }
  Bytes& Put(const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    data.insert(data.end(), b, b + n);
    return *this;
  }
  std::vector<uint8_t> data;
};

}  // namespace opc_sinks
