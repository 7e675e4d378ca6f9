// IDataObject of a group and the DA 1.0a streams. Every integer in a block
// is little-endian; a VARIANT is its 16-byte image with any pointer zeroed,
// and a string or array value follows its VARIANT: a string as a 32-bit
// byte count, the UTF-16 text and a NUL; an array as a 32-bit SAFEARRAY
// descriptor (cDims, fFeatures, cbElements, cLocks, pvData 0, then
// cElements and lLbound per dimension) and the element data. Blocks without
// such values keep the fixed layout (offset 20 + 20n + 16i and so on).
#include <bit>
#include <cstring>
#include <string>
#include <vector>

#include "model/norvo_var.h"
#include "opc/opc_group.h"
#include "opc/opc_server.h"
#include "opc/opc_server_collection.h"
#include "platform/date_time.h"

const TStreamFormats& StreamFormats() {
  static const TStreamFormats formats{RegisterClipboardFormat(OPCSTMFORMATDATATIME),
                                      RegisterClipboardFormat(OPCSTMFORMATDATA),
                                      RegisterClipboardFormat(OPCSTMFORMATWRITECOMPLETE)};
  return formats;
}

// ---- IDataObject ---------------------------------------------------------------------

HRESULT TOPCGroup::GetData(FORMATETC*, STGMEDIUM*) { return E_NOTIMPL; }
HRESULT TOPCGroup::GetDataHere(FORMATETC*, STGMEDIUM*) { return E_NOTIMPL; }
HRESULT TOPCGroup::QueryGetData(FORMATETC*) { return E_NOTIMPL; }
HRESULT TOPCGroup::GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) { return E_NOTIMPL; }
HRESULT TOPCGroup::SetData(FORMATETC*, STGMEDIUM*, int32_t) { return E_NOTIMPL; }

HRESULT TOPCGroup::EnumFormatEtc(uint32_t, IEnumFORMATETC** out) {
  if (out) *out = nullptr;
  return E_NOTIMPL;
}

HRESULT TOPCGroup::EnumDAdvise(IEnumSTATDATA** out) {
  if (out) *out = nullptr;
  return E_NOTIMPL;
}

HRESULT TOPCGroup::DAdvise(FORMATETC* format, uint32_t /*advf*/, IAdviseSink* sink, uint32_t* connection) {
  if (connection) *connection = 0;
  if (!format || !sink || !connection) return E_INVALIDARG;
  const TStreamFormats& f = StreamFormats();
  TAsyncIOSubscription* sub;
  uint32_t number;
  std::string what;
  if (format->cfFormat == f.dataTime) {
    sub = &FSubscriptionTime, number = 1, what = " with timestamp";
  } else if (format->cfFormat == f.data) {
    sub = &FSubscriptionData, number = 2, what = " without timestamp";
  } else if (format->cfFormat == f.writeComplete) {
    sub = &FSubscriptionWrite, number = 3, what = " type write complete";
  } else {
    return E_FAIL;
  }
  if (sub->AdviseSink) return CONNECT_E_ADVISELIMIT;
  FServer->SessionWrite("Client established AsyncIO callback for group " + FName + what);
  sub->AdviseSink = ComPtr<IAdviseSink>(sink);
  sub->Connection = number;
  sub->Format = format->cfFormat;
  *connection = number;
  return S_OK;
}

HRESULT TOPCGroup::DUnadvise(uint32_t connection) {
  TAsyncIOSubscription* sub = SubscriptionOf(connection);
  if (!sub || !sub->AdviseSink) return E_FAIL;
  // Out of the slot first: the release may call back into the group.
  ComPtr<IAdviseSink> dropped = std::move(sub->AdviseSink);
  sub->AdviseSink = nullptr;
  sub->Connection = 0;
  return S_OK;
}

// ---- streams ------------------------------------------------------------------------

namespace {

class TBlockWriter {
 public:
  explicit TBlockWriter(std::vector<uint8_t>& out) : out_(out) {}
  void U16(uint16_t v) { Bytes(&v, 2); }
  void U32(uint32_t v) { Bytes(&v, 4); }
  void Bytes(const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    out_.insert(out_.end(), b, b + n);
  }

 private:
  std::vector<uint8_t>& out_;
};

static_assert(std::endian::native == std::endian::little, "stream images are written in host order");

// The value's VARIANT image and whatever follows it.
void AppendValue(std::vector<uint8_t>& out, const VARIANT& v) {
  VARIANT image = v;
  const bool isArray = (v.vt & VT_ARRAY) != 0 && v.parray;
  const bool isString = v.vt == VT_BSTR;
  if (isArray || isString) image.byref = nullptr;
  TBlockWriter w(out);
  w.Bytes(&image, sizeof image);
  if (isString) {
    const uint32_t bytes = SysStringByteLen(v.bstrVal);
    w.U32(bytes);
    w.Bytes(v.bstrVal ? static_cast<const void*>(v.bstrVal) : "", bytes);
    w.U16(0);
  } else if (isArray) {
    const SAFEARRAY* sa = v.parray;
    const uint32_t dims = SafeArrayGetDim(sa);
    const uint32_t elemSize = SafeArrayGetElemsize(sa);
    w.U16(static_cast<uint16_t>(dims));
    w.U16(sa->fFeatures);
    w.U32(elemSize);
    w.U32(0);  // cLocks
    w.U32(0);  // pvData
    size_t elements = dims ? 1 : 0;
    // Bounds in the order SAFEARRAY keeps them (the rightmost dimension first).
    for (uint32_t d = 0; d < dims; ++d) {
      w.U32(sa->rgsabound[d].cElements);
      w.U32(static_cast<uint32_t>(sa->rgsabound[d].lLbound));
      elements *= sa->rgsabound[d].cElements;
    }
    const bool pointers = (sa->fFeatures & (FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH | FADF_VARIANT)) != 0;
    if (elements && sa->pvData && !pointers) w.Bytes(sa->pvData, elements * elemSize);
  }
}

}  // namespace

void TOPCGroup::SendAdviseData(TAsyncIOSubscription& subscription, const TItemRefs& items, uint32_t source,
                               uint32_t transactionID, const std::vector<HRESULT>* writeErrors) {
  const TStreamFormats& f = StreamFormats();
  const CLIPFORMAT format = subscription.Format;
  const bool withTime = format == f.dataTime;
  const bool isWrite = format == f.writeComplete;
  if (!withTime && !isWrite && format != f.data) return;
  const auto n = static_cast<uint32_t>(items.size());

  std::vector<TOPCItem*> resolved;
  resolved.reserve(n);
  for (OPCHANDLE h : items) {
    TOPCItem* item = FindItem(h);
    // A removed item stops the whole stream.
    if (!item || !item->Tag()) return;
    resolved.push_back(item);
  }

  std::vector<uint8_t> block;
  TBlockWriter w(block);
  if (isWrite) {
    block.reserve(16 + 8 * size_t{n});
    w.U32(n);
    w.U32(FClientHandle);
    w.U32(transactionID);
    w.U32(S_OK);
    for (uint32_t i = 0; i < n; ++i) {
      w.U32(resolved[i]->FClientHandle);
      w.U32(static_cast<uint32_t>(writeErrors && i < writeErrors->size() ? (*writeErrors)[i] : S_OK));
    }
  } else {
    const size_t headerSize = withTime ? 20 : 12;
    const size_t valuesStart = 20 + headerSize * n;
    std::vector<uint8_t> values;
    values.reserve(16 * size_t{n});
    block.reserve(valuesStart + 16 * size_t{n});
    block.resize(20);  // the group header, filled once the size is known
    for (uint32_t i = 0; i < n; ++i) {
      TOPCItem& item = *resolved[i];
      const bool outOfService = source == OPC_DS_CACHE && (!FActive || !item.FActive);
      w.U32(item.FClientHandle);
      w.U32(static_cast<uint32_t>(valuesStart + values.size()));
      w.U16(outOfService ? OPC_QUALITY_OUT_OF_SERVICE : item.ItemQuality());
      w.U16(0);
      if (withTime) {
        const FILETIME ft = item.TimeStampUtc();
        w.U32(ft.dwLowDateTime);
        w.U32(ft.dwHighDateTime);
      }
      ComVariant v;
      item.GetValue(v.get());
      AppendValue(values, *v.get());
    }
    block.insert(block.end(), values.begin(), values.end());
    const uint32_t header[5] = {static_cast<uint32_t>(block.size()), n, FClientHandle, transactionID, S_OK};
    std::memcpy(block.data(), header, sizeof header);
  }

  HGLOBAL memory = GlobalAlloc(GMEM_FIXED, block.size());
  if (!memory) return;
  void* p = GlobalLock(memory);
  if (p) std::memcpy(p, block.data(), block.size());
  ComPtr<IAdviseSink> sink = subscription.AdviseSink;
  if (p && n > 0 && sink) {
    FORMATETC fe{format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium{};
    medium.tymed = TYMED_HGLOBAL;
    medium.hGlobal = memory;
    medium.pUnkForRelease = nullptr;
    sink->OnDataChange(&fe, &medium);
  }
  GlobalUnlock(memory);
  GlobalFree(memory);
}
