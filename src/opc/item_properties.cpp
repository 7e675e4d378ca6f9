#include "opc/item_properties.h"

#include <cstring>
#include <new>

#include "model/norvo_var.h"
#include "opc/address_space.h"
#include "opc/opc_server.h"
#include "opc/opc_server_collection.h"
#include "opc/opc_support.h"

VARTYPE ListedPropertyType(const TNorvoVar& tag, uint32_t id) {
  switch (id) {
    case 1: return VT_I2;
    case 2:
    case 5000: return VarTypeVT(tag.FVarType);
    case 5: return VT_I4;
    case 101: return VT_BSTR;
    default: return VT_EMPTY;
  }
}

namespace {

void SetI4(VARIANT* out, int32_t v) {
  VariantClear(out);
  out->vt = VT_I4;
  out->lVal = v;
}

void TagValue(const TNorvoVar& tag, VARIANT* out) {
  VariantClear(out);
  if (IsArrayType(tag.FVarType)) {
    tag.GetValueVariant(out);
  } else if (tag.FVarType == ntString) {
    out->vt = VT_BSTR;
    out->bstrVal = Utf8ToBstr(tag.FStrValue);
  } else if (tag.FVarType == ntReal) {
    out->vt = VT_R4;
    std::memcpy(&out->fltVal, &tag.FValue, sizeof(float));
  } else {
    ComVariant raw = ComVariant::FromI4(tag.FValue);
    if (FAILED(VariantChangeType(out, raw.get(), 0, VarTypeVT(tag.FVarType)))) SetI4(out, tag.FValue);
  }
}

}  // namespace

bool GetItemProperty(TNorvoVar& tag, uint32_t id, VARIANT* out) {
  switch (id) {
    case 1: SetI4(out, VarTypeVT(tag.FVarType)); return true;
    case 2:
    case 5000: TagValue(tag, out); return true;
    case 3: SetI4(out, tag.GetQuality()); return true;
    case 4:
      VariantClear(out);
      out->vt = VT_DATE;
      out->date = tag.FTimestamp;
      return true;
    case 5: SetI4(out, tag.FAccessRights); return true;
    case 6:
    case 5001: SetI4(out, 0); return true;
    case 101:
      VariantClear(out);
      out->vt = VT_BSTR;
      out->bstrVal = Utf8ToBstr(tag.FDescription);
      return true;
    default: SetI4(out, 0); return false;
  }
}

// ---- IOPCItemProperties of the server object ---------------------------------------

namespace {

// The tag of a client's item ID: E_INVALIDARG for an empty one,
// OPC_E_INVALIDITEMID for one that names nothing.
HRESULT FindTag(const TOPCEnvironment& env, const OLECHAR* itemID, TNorvoVar** tag) {
  *tag = nullptr;
  const std::string id = Utf16ToUtf8(OleView(itemID));
  if (id.empty()) return E_INVALIDARG;
  *tag = env.addressSpace ? env.addressSpace->FindItem(id) : nullptr;
  return *tag ? S_OK : OPC_E_INVALIDITEMID;
}

}  // namespace

HRESULT TDA2::QueryAvailableProperties(OLECHAR* itemID, uint32_t* count, uint32_t** propertyIDs,
                                       OLECHAR*** descriptions, VARTYPE** dataTypes) {
  if (count) *count = 0;
  if (propertyIDs) *propertyIDs = nullptr;
  if (descriptions) *descriptions = nullptr;
  if (dataTypes) *dataTypes = nullptr;
  TCallTrace trace(Env().Log(), "IOPCItemProperties::QueryAvailableProperties");
  if (!count || !propertyIDs || !descriptions || !dataTypes) return trace.Return(E_INVALIDARG);
  TNorvoVar* tag;
  if (HRESULT hr = FindTag(Env(), itemID, &tag); hr != S_OK) return trace.Return(hr);
  constexpr uint32_t n = std::size(kItemProperties);
  TaskBlock<uint32_t> ids(TaskArray<uint32_t>(n));
  TaskBlock<OLECHAR*> texts(TaskArray<OLECHAR*>(n));
  TaskBlock<VARTYPE> types(TaskArray<VARTYPE>(n));
  bool ok = ids && texts && types;
  for (uint32_t i = 0; ok && i < n; ++i) {
    ids[i] = kItemProperties[i].id;
    types[i] = ListedPropertyType(*tag, kItemProperties[i].id);
    ok = (texts[i] = TaskStringUtf8(kItemProperties[i].description)) != nullptr;
  }
  if (!ok) {
    for (uint32_t i = 0; texts && i < n; ++i) CoTaskMemFree(texts[i]);
    return trace.Return(E_OUTOFMEMORY);
  }
  *count = n;
  *propertyIDs = ids.Release();
  *descriptions = texts.Release();
  *dataTypes = types.Release();
  return trace.Return(S_OK);
}

HRESULT TDA2::GetItemProperties(OLECHAR* itemID, uint32_t count, uint32_t* propertyIDs, VARIANT** data,
                                HRESULT** errors) {
  if (data) *data = nullptr;
  if (errors) *errors = nullptr;
  TCallTrace trace(Env().Log(), "IOPCItemProperties::GetItemProperties");
  if (count == 0 || AbsurdCount(count) || !propertyIDs || !data || !errors) return trace.Return(E_INVALIDARG);
  TNorvoVar* tag;
  if (HRESULT hr = FindTag(Env(), itemID, &tag); hr != S_OK) return trace.Return(hr);
  TaskBlock<VARIANT> values(TaskArray<VARIANT>(count));
  TaskBlock<HRESULT> err(TaskArray<HRESULT>(count));
  if (!values || !err) return trace.Return(E_OUTOFMEMORY);
  for (uint32_t i = 0; i < count; ++i) {
    err[i] = GetItemProperty(*tag, propertyIDs[i], &values[i]) ? S_OK : OPC_E_INVALID_PID;
  }
  *data = values.Release();
  *errors = err.Release();
  return trace.Return(S_OK);
}

HRESULT TDA2::LookupItemIDs(OLECHAR* itemID, uint32_t count, uint32_t* propertyIDs, OLECHAR*** newItemIDs,
                            HRESULT** errors) {
  if (newItemIDs) *newItemIDs = nullptr;
  if (errors) *errors = nullptr;
  TCallTrace trace(Env().Log(), "IOPCItemProperties::LookupItemIDs");
  if (count == 0 || AbsurdCount(count) || !propertyIDs || !newItemIDs || !errors) return trace.Return(E_INVALIDARG);
  TNorvoVar* tag;
  if (HRESULT hr = FindTag(Env(), itemID, &tag); hr != S_OK) return trace.Return(hr);
  TaskBlock<OLECHAR*> ids(TaskArray<OLECHAR*>(count));
  TaskBlock<HRESULT> err(TaskArray<HRESULT>(count));
  bool ok = ids && err;
  for (uint32_t i = 0; ok && i < count; ++i) {
    err[i] = S_OK;
    ok = (ids[i] = TaskStringUtf8("")) != nullptr;
  }
  if (!ok) {
    for (uint32_t i = 0; ids && i < count; ++i) CoTaskMemFree(ids[i]);
    return trace.Return(E_OUTOFMEMORY);
  }
  *newItemIDs = ids.Release();
  *errors = err.Release();
  return trace.Return(S_OK);
}
