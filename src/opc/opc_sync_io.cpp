// IOPCSyncIO of a group: reads answer from the tag cache at once and ask
// for fresh values; writes go into the tags for the scheduler to send.
#include <new>

#include "model/norvo_var.h"
#include "opc/opc_group.h"
#include "opc/opc_server.h"
#include "opc/opc_server_collection.h"
#include "opc/opc_support.h"
#include "platform/date_time.h"

bool StoreClientValue(TNorvoVar& tag, const VARIANT& value) {
  try {
    return tag.SetFromVariant(value);
  } catch (const std::exception&) {
    return false;
  }
}

HRESULT TOPCGroup::Read(OPCDATASOURCE /*source*/, uint32_t count, OPCHANDLE* serverHandles,
                        OPCITEMSTATE** itemValues, HRESULT** errors) {
  if (itemValues) *itemValues = nullptr;
  if (errors) *errors = nullptr;
  TCallTrace trace(Log(), "IOPCSyncIO::Read");
  if (count == 0 || AbsurdCount(count) || !serverHandles || !itemValues || !errors) return trace.Return(E_INVALIDARG);
  TaskBlock<OPCITEMSTATE> states(TaskArray<OPCITEMSTATE>(count));
  TaskBlock<HRESULT> err(TaskArray<HRESULT>(count));
  if (!states || !err) return trace.Return(E_OUTOFMEMORY);
  const TOPCEnvironment& env = FServer->Env();
  const bool qualityIndependent = env.host && env.host->QualityIndependentSyncRead();
  HRESULT hr = S_OK;
  for (uint32_t i = 0; i < count; ++i) {
    OPCITEMSTATE& st = states[i];
    st.vDataValue.vt = VT_I4;
    st.vDataValue.lVal = 1;
  }
  for (uint32_t i = 0; i < count; ++i) {
    OPCITEMSTATE& st = states[i];
    TOPCItem* item = FindItem(serverHandles[i]);
    TNorvoVar* tag = item ? item->Tag() : nullptr;
    if (!tag) {
      err[i] = OPC_E_INVALIDHANDLE;
      hr = S_FALSE;
      continue;
    }
    st.hClient = item->FClientHandle;
    if (qualityIndependent) {
      st.ftTimeStamp = LocalDateTimeToUtcFileTime(env.Time().Now());
      st.wQuality = OPC_QUALITY_GOOD;
    } else {
      st.ftTimeStamp = item->TimeStampUtc();
      st.wQuality = item->ItemQuality();
    }
    item->GetValue(&st.vDataValue);
    tag->FReadRequest = true;
    err[i] = S_OK;
  }
  *itemValues = states.Release();
  *errors = err.Release();
  return trace.Return(hr);
}

HRESULT TOPCGroup::Write(uint32_t count, OPCHANDLE* serverHandles, VARIANT* itemValues, HRESULT** errors) {
  if (errors) *errors = nullptr;
  TCallTrace trace(Log(), "IOPCSyncIO::Write");
  if (count == 0 || AbsurdCount(count) || !serverHandles || !itemValues || !errors) return trace.Return(E_INVALIDARG);
  TaskBlock<HRESULT> err(TaskArray<HRESULT>(count));
  if (!err) return trace.Return(E_OUTOFMEMORY);
  HRESULT hr = S_OK;
  for (uint32_t i = 0; i < count; ++i) {
    TOPCItem* item = FindItem(serverHandles[i]);
    TNorvoVar* tag = item ? item->Tag() : nullptr;
    if (!tag) {
      err[i] = OPC_E_INVALIDHANDLE;
    } else if (!item->IsWritable()) {
      err[i] = OPC_E_BADRIGHTS;
    } else {
      err[i] = StoreClientValue(*tag, itemValues[i]) ? S_OK : OPC_E_BADTYPE;
    }
    if (err[i] != S_OK) hr = S_FALSE;
  }
  *errors = err.Release();
  return trace.Return(hr);
}
