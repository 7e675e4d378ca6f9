// IOPCAsyncIO2 and IOPCAsyncIO of a group: requests are accepted during the
// call and answered later from the group timer, never from inside the call.
#include "model/norvo_var.h"
#include "opc/opc_group.h"
#include "opc/opc_server.h"
#include "opc/opc_server_collection.h"
#include "opc/opc_support.h"

uint32_t NextTransactionID() {
  static uint32_t next = 0;
  if (++next == 0) next = 1;
  return next;
}

// Asks the PLCs for the listed items' values; unknown handles get their
// error and make the call's result S_FALSE.
HRESULT TOPCGroup::RequestDeviceReads(uint32_t count, const OPCHANDLE* serverHandles, HRESULT* errors,
                                      TItemRefs& request) {
  HRESULT hr = S_OK;
  for (uint32_t i = 0; i < count; ++i) {
    TOPCItem* item = FindItem(serverHandles[i]);
    if (!item || !item->Tag()) {
      errors[i] = OPC_E_UNKNOWNITEMID;
      hr = S_FALSE;
      continue;
    }
    item->Tag()->FReadRequest = true;
    request.push_back(item->Handle());
    errors[i] = S_OK;
  }
  return hr;
}

// ---- IOPCAsyncIO2 ------------------------------------------------------------------

HRESULT TOPCGroup::Read(uint32_t count, OPCHANDLE* serverHandles, uint32_t transactionID, uint32_t* cancelID,
                        HRESULT** errors) {
  if (errors) *errors = nullptr;
  TCallTrace trace(Log(), "IOPCAsyncIO2::Read");
  if (count == 0 || AbsurdCount(count) || !serverHandles || !cancelID || !errors) return trace.Return(E_INVALIDARG);
  if (!FDataCallback) return trace.Return(CONNECT_E_NOCONNECTION);
  TaskBlock<HRESULT> err(TaskArray<HRESULT>(count));
  if (!err) return trace.Return(E_OUTOFMEMORY);
  TItemRefs request;
  const HRESULT hr = RequestDeviceReads(count, serverHandles, err.get(), request);
  if (request.empty()) return trace.Return(E_FAIL);
  *cancelID = QueueCallback(ckRead, transactionID, std::move(request), OPC_DS_DEVICE).FCancelID;
  *errors = err.Release();
  return trace.Return(hr);
}

HRESULT TOPCGroup::Write(uint32_t count, OPCHANDLE* serverHandles, VARIANT* itemValues, uint32_t transactionID,
                         uint32_t* cancelID, HRESULT** errors) {
  if (errors) *errors = nullptr;
  TCallTrace trace(Log(), "IOPCAsyncIO2::Write");
  if (count == 0 || AbsurdCount(count) || !serverHandles || !itemValues || !cancelID || !errors) {
    return trace.Return(E_INVALIDARG);
  }
  if (!FDataCallback) return trace.Return(CONNECT_E_NOCONNECTION);
  TaskBlock<HRESULT> err(TaskArray<HRESULT>(count));
  if (!err) return trace.Return(E_OUTOFMEMORY);
  TItemRefs request;
  HRESULT hr = S_OK;
  for (uint32_t i = 0; i < count; ++i) {
    TOPCItem* item = FindItem(serverHandles[i]);
    TNorvoVar* tag = item ? item->Tag() : nullptr;
    if (!tag) {
      err[i] = OPC_E_UNKNOWNITEMID;
    } else if (!item->IsWritable()) {
      // Refused in the completion, as clients of this server have seen it.
      err[i] = S_OK;
      request.push_back(item->Handle());
    } else if (StoreClientValue(*tag, itemValues[i])) {
      err[i] = S_OK;
      request.push_back(item->Handle());
    } else {
      err[i] = OPC_E_BADTYPE;
    }
    if (err[i] != S_OK) hr = S_FALSE;
  }
  if (request.empty()) return trace.Return(E_FAIL);
  TOPCCallback& cb = QueueCallback(ckWrite, transactionID, std::move(request), OPC_DS_DEVICE);
  cb.FNoWait = true;
  *cancelID = cb.FCancelID;
  *errors = err.Release();
  return trace.Return(hr);
}

TItemRefs TOPCGroup::ActiveItemsForRefresh() {
  TItemRefs items;
  for (const auto& item : FItems) {
    if (!item->FActive || !item->Tag()) continue;
    item->Tag()->FReadRequest = true;
    items.push_back(item->Handle());
  }
  return items;
}

HRESULT TOPCGroup::Refresh2(OPCDATASOURCE source, uint32_t transactionID, uint32_t* cancelID) {
  TCallTrace trace(Log(), "IOPCAsyncIO2::Refresh2");
  if (!cancelID) return trace.Return(E_INVALIDARG);
  if (!FDataCallback) return trace.Return(CONNECT_E_NOCONNECTION);
  if (!FActive && source == OPC_DS_CACHE) return trace.Return(E_FAIL);
  TItemRefs items = ActiveItemsForRefresh();
  if (items.empty()) return trace.Return(E_FAIL);
  *cancelID = QueueCallback(ckRefresh, transactionID, std::move(items), static_cast<uint32_t>(source)).FCancelID;
  return trace.Return(S_OK);
}

HRESULT TOPCGroup::Cancel2(uint32_t cancelID) {
  TCallTrace trace(Log(), "IOPCAsyncIO2::Cancel2");
  for (const auto& cb : FCallbacks) {
    // A cancel confirmation itself, or a request already cancelled, is not
    // a request that can still be cancelled.
    if (cb->FCancelID != cancelID || cb->FKind == ckCancel || cb->FCancelled) continue;
    cb->FCancelled = true;
    const uint32_t transactionID = cb->FTransactionID;
    QueueCallback(ckCancel, transactionID, {}, 0);
    return trace.Return(S_OK);
  }
  return trace.Return(E_FAIL);
}

HRESULT TOPCGroup::SetEnable(int32_t enable) {
  HRESULT hr = CONNECT_E_NOCONNECTION;
  if (FDataCallback) {
    FCallbackEnabled = enable != 0;
    hr = S_OK;
  }
  TraceLine(Log(), "IOPCAsyncIO2::SetEnable", hr);
  return hr;
}

HRESULT TOPCGroup::GetEnable(int32_t* enable) {
  HRESULT hr = CONNECT_E_NOCONNECTION;
  if (!enable) {
    hr = E_INVALIDARG;
  } else if (FDataCallback) {
    *enable = FCallbackEnabled ? -1 : 0;
    hr = S_OK;
  }
  TraceLine(Log(), "IOPCAsyncIO2::GetEnable", hr);
  return hr;
}

// ---- IOPCAsyncIO (DA 1.0) --------------------------------------------------------

TAsyncIOSubscription* TOPCGroup::SubscriptionOf(uint32_t connection) {
  switch (connection) {
    case 1: return &FSubscriptionTime;
    case 2: return &FSubscriptionData;
    case 3: return &FSubscriptionWrite;
    default: return nullptr;
  }
}

void TOPCGroup::FillPending(TPendingAsyncIO& slot, TAsyncIOSubscription* subscription, uint32_t source,
                            TItemRefs items, uint32_t* transactionID) {
  slot.Subscription = subscription;
  slot.RequestTime = Now();
  slot.Source = source;
  slot.TransactionID = NextTransactionID();
  slot.Items = std::move(items);
  *transactionID = slot.TransactionID;
}

HRESULT TOPCGroup::Read(uint32_t connection, OPCDATASOURCE source, uint32_t count, OPCHANDLE* serverHandles,
                        uint32_t* transactionID, HRESULT** errors) {
  if (errors) *errors = nullptr;
  TCallTrace trace(Log(), "IOPCAsyncIO::Read");
  if (count == 0 || AbsurdCount(count) || !serverHandles || !transactionID || !errors) {
    return trace.Return(E_INVALIDARG);
  }
  TAsyncIOSubscription* sub = connection == 1 || connection == 2 ? SubscriptionOf(connection) : nullptr;
  if (!sub || !sub->AdviseSink) return trace.Return(CONNECT_E_NOCONNECTION);
  TaskBlock<HRESULT> err(TaskArray<HRESULT>(count));
  if (!err) return trace.Return(E_OUTOFMEMORY);
  if (FPendingRead.Busy()) return trace.Return(CONNECT_E_ADVISELIMIT);
  TItemRefs request;
  const HRESULT hr = RequestDeviceReads(count, serverHandles, err.get(), request);
  if (request.empty()) return trace.Return(E_FAIL);
  FillPending(FPendingRead, sub, static_cast<uint32_t>(source), std::move(request), transactionID);
  *errors = err.Release();
  return trace.Return(hr);
}

HRESULT TOPCGroup::Write(uint32_t connection, uint32_t count, OPCHANDLE* serverHandles, VARIANT* itemValues,
                         uint32_t* transactionID, HRESULT** errors) {
  if (errors) *errors = nullptr;
  TCallTrace trace(Log(), "IOPCAsyncIO::Write");
  if (count == 0 || AbsurdCount(count) || !serverHandles || !itemValues || !transactionID || !errors) {
    return trace.Return(E_INVALIDARG);
  }
  if (FPendingWrite.Busy()) return trace.Return(CONNECT_E_ADVISELIMIT);
  if (connection != 3 || !FSubscriptionWrite.AdviseSink) return trace.Return(CONNECT_E_NOCONNECTION);
  TaskBlock<HRESULT> err(TaskArray<HRESULT>(count));
  if (!err) return trace.Return(E_OUTOFMEMORY);
  TItemRefs request;
  std::vector<HRESULT> itemErrors;
  HRESULT hr = S_OK;
  for (uint32_t i = 0; i < count; ++i) {
    TOPCItem* item = FindItem(serverHandles[i]);
    TNorvoVar* tag = item ? item->Tag() : nullptr;
    if (!tag) {
      err[i] = OPC_E_UNKNOWNITEMID;
    } else if (!item->IsWritable()) {
      err[i] = OPC_E_BADRIGHTS;
    } else {
      err[i] = StoreClientValue(*tag, itemValues[i]) ? S_OK : OPC_E_BADTYPE;
      // A refused value stays in the completion, with its error, and is
      // not waited for: no acknowledge will ever come for it.
      request.push_back(item->Handle());
      itemErrors.push_back(err[i]);
    }
    if (err[i] != S_OK) hr = S_FALSE;
  }
  if (request.empty()) return trace.Return(E_FAIL);
  FillPending(FPendingWrite, &FSubscriptionWrite, OPC_DS_DEVICE, std::move(request), transactionID);
  FPendingWrite.ItemErrors = std::move(itemErrors);
  *errors = err.Release();
  return trace.Return(hr);
}

HRESULT TOPCGroup::Refresh(uint32_t connection, OPCDATASOURCE source, uint32_t* transactionID) {
  TCallTrace trace(Log(), "IOPCAsyncIO::Refresh");
  if (!transactionID) return trace.Return(E_INVALIDARG);
  if (!FActive && source == OPC_DS_CACHE) return trace.Return(E_FAIL);
  if (FPendingRefresh.Busy()) return trace.Return(CONNECT_E_ADVISELIMIT);
  TAsyncIOSubscription* sub = connection == 1 || connection == 2 ? SubscriptionOf(connection) : nullptr;
  if (!sub || !sub->AdviseSink) return trace.Return(CONNECT_E_NOCONNECTION);
  TItemRefs items = ActiveItemsForRefresh();
  if (items.empty()) return trace.Return(E_FAIL);
  FillPending(FPendingRefresh, sub, static_cast<uint32_t>(source), std::move(items), transactionID);
  return trace.Return(S_OK);
}

HRESULT TOPCGroup::Cancel(uint32_t /*transactionID*/) { return E_FAIL; }

void TOPCGroup::ProcessPendingAsyncIO(TPendingAsyncIO& slot) {
  if (!slot.Subscription || !slot.Busy()) return;
  if (slot.Source == OPC_DS_DEVICE) {
    for (size_t i = 0; i < slot.Items.size(); ++i) {
      if (slot.IsWrite && i < slot.ItemErrors.size() && slot.ItemErrors[i] != S_OK) continue;
      const TOPCItem* item = FindItem(slot.Items[i]);
      const TNorvoVar* tag = item ? item->Tag() : nullptr;
      if (!tag) continue;
      const TDateTime time = slot.IsWrite ? tag->FWriteAckTime : tag->FTimestamp;
      if (time < slot.RequestTime && !tag->CannotRefresh()) return;
    }
  }
  // The slot is free again before the sink runs: the client may send the
  // next request from inside the call.
  TItemRefs items = std::move(slot.Items);
  std::vector<HRESULT> errors = std::move(slot.ItemErrors);
  slot.Free();
  try {
    SendAdviseData(*slot.Subscription, items, slot.Source, slot.TransactionID, slot.IsWrite ? &errors : nullptr);
  } catch (const std::exception&) {
    // Sent once, failed or not.
  }
}
