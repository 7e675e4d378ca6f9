#include "opc/opc_group.h"

#include <algorithm>
#include <new>

#include "log/session_log.h"
#include "model/norvo_var.h"
#include "opc/enum_item_attributes.h"
#include "opc/opc_server.h"
#include "opc/opc_server_collection.h"
#include "opc/opc_support.h"
#include "opc/server_ids.h"

namespace {

std::string Utf8(const OLECHAR* s) { return Utf16ToUtf8(OleView(s)); }

// The highest VARTYPE a client may ask for; beyond it lie arrays, by-ref
// values and types nobody converts to.
constexpr VARTYPE kMaxRequestedType = VT_I8;

}  // namespace

TOPCGroup::TOPCGroup(TDA2* server)
    : FServer(server), FItemHandles(TOPCServerCollection::ItemHandles()), FDataCallbackPoint(this) {
  FPendingWrite.IsWrite = true;
}

TOPCGroup::~TOPCGroup() {
  // Replies die with the group unsent; sinks are let go before the server.
  FCallbacks.clear();
  FDataCallbackPoint.DisconnectAll();
  FDataCallback = nullptr;
  for (TAsyncIOSubscription* s : {&FSubscriptionTime, &FSubscriptionData, &FSubscriptionWrite}) s->AdviseSink = nullptr;
  // Items go from the last to the first, each letting go of its tag.
  while (!FItems.empty()) FItems.pop_back();
  FItemHandles.Clear();
  FServer->GroupDestroyed(this);
}

void* TOPCGroup::QueryExtraInterface(const IID& iid) {
  // The type library's group interface has no members of its own.
  if (iid == IID_IOPCGroup) return Identity();
  return nullptr;
}

uint32_t TOPCGroup::ClientRefCount() {
  AddRef();
  const uint32_t n = Release();
  return n > FPassRefs ? n - FPassRefs : 0;
}

void TOPCGroup::TagReleased(TNorvoVar* tag) {
  if (tag->FRefCount > 0) return;
  if (IOPCAddressSpace* space = FServer->Env().addressSpace) space->TagUnreferenced(tag);
}

HRESULT TOPCGroup::EnumConnectionPoints(IEnumConnectionPoints** out) { return FDataCallbackPoint.Enumerate(out); }

HRESULT TOPCGroup::FindConnectionPoint(const IID& iid, IConnectionPoint** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (iid != IID_IOPCDataCallback) return CONNECT_E_NOCONNECTION;
  FDataCallbackPoint.AddRef();
  *out = &FDataCallbackPoint;
  return S_OK;
}

// ---- state ---------------------------------------------------------------------

HRESULT TOPCGroup::GetState(uint32_t* updateRate, int32_t* active, OLECHAR** name, int32_t* timeBias,
                            float* percentDeadband, LCID* lcid, OPCHANDLE* clientGroup, OPCHANDLE* serverGroup) {
  HRESULT hr = S_OK;
  if (name) *name = nullptr;
  if (!updateRate || !active || !name || !timeBias || !percentDeadband || !lcid || !clientGroup || !serverGroup) {
    hr = E_INVALIDARG;
  } else if (!(*name = TaskStringUtf8(FName))) {
    hr = E_OUTOFMEMORY;
  } else {
    *updateRate = FUpdateRate;
    *active = FActive ? -1 : 0;
    *timeBias = FTimeBias;
    *percentDeadband = FPercentDeadband;
    *lcid = FLocaleID;
    *clientGroup = FClientHandle;
    *serverGroup = FServerHandle;
  }
  TraceLine(FServer->Env().Log(), "IOPCGroupStateMgt::GetState", hr);
  return hr;
}

void TOPCGroup::SetUpdateRate(uint32_t requested) {
  if (requested == FUpdateRate) return;
  // In 64 bits, then held below the largest multiple that fits 32 bits.
  uint64_t rate = (static_cast<uint64_t>(requested) + kTimerInterval - 1) / kTimerInterval * kTimerInterval;
  rate = std::clamp<uint64_t>(rate, kTimerInterval, UINT32_MAX / kTimerInterval * kTimerInterval);
  FUpdateRate = static_cast<uint32_t>(rate);
}

HRESULT TOPCGroup::SetState(uint32_t* requestedUpdateRate, uint32_t* revisedUpdateRate, int32_t* active,
                            int32_t* timeBias, float* percentDeadband, LCID* lcid, OPCHANDLE* clientGroup) {
  if (active) FActive = *active != 0;
  if (clientGroup) FClientHandle = *clientGroup;
  if (lcid) FLocaleID = *lcid;
  if (percentDeadband) FPercentDeadband = *percentDeadband;
  if (requestedUpdateRate) SetUpdateRate(*requestedUpdateRate);
  if (timeBias) FTimeBias = *timeBias;
  if (revisedUpdateRate) *revisedUpdateRate = FUpdateRate;
  const HRESULT hr = requestedUpdateRate && *requestedUpdateRate != FUpdateRate ? OPC_S_UNSUPPORTEDRATE : S_OK;
  TraceLine(FServer->Env().Log(), "IOPCGroupStateMgt::SetState", hr);
  return hr;
}

HRESULT TOPCGroup::SetName(const OLECHAR* name) {
  TCallTrace trace(FServer->Env().Log(), "IOPCGroupStateMgt::SetName");
  std::string newName = Utf8(name);
  if (newName.empty()) return trace.Return(E_INVALIDARG);
  if (FServer->FindGroup(newName)) return trace.Return(OPC_E_DUPLICATENAME);
  FName = std::move(newName);
  return trace.Return(S_OK);
}

void TOPCGroup::CopyStateTo(TOPCGroup& clone) {
  clone.FActive = false;
  clone.FCallbackEnabled = false;
  clone.FLastUpdateTick = 0;
  clone.FClientHandle = 0;
  clone.FLocaleID = FLocaleID;
  clone.FPercentDeadband = FPercentDeadband;
  clone.FUpdateRate = FUpdateRate;
  clone.FTimeBias = FTimeBias;
  clone.FItems.reserve(FItems.size());
  for (const auto& item : FItems) clone.NewItem()->CopyFrom(*item);
}

HRESULT TOPCGroup::CloneGroup(const OLECHAR* name, const IID& iid, IUnknown** group) {
  if (group) *group = nullptr;
  TCallTrace trace(FServer->Env().Log(), "IOPCGroupStateMgt::CloneGroup");
  if (!group) return trace.Return(E_INVALIDARG);
  {
    ComPtr<IUnknown> probe;
    if (FAILED(QueryInterface(iid, probe.put_void()))) return trace.Return(E_NOINTERFACE);
  }
  std::string cloneName = Utf8(name);
  if (!cloneName.empty()) {
    if (FServer->FindGroup(cloneName)) return trace.Return(OPC_E_DUPLICATENAME);
  } else {
    // Named by the tick count; a taken name moves on by one rather than
    // waiting for the clock, which may not move within the call.
    for (uint64_t n = FServer->Env().Time().TickCount();; ++n) {
      cloneName = std::to_string(n);
      if (!FServer->FindGroup(cloneName)) break;
    }
  }
  try {
    ComPtr<TOPCGroup> clone = FServer->NewGroup();
    CopyStateTo(*clone);
    clone->FName = cloneName;
    return trace.Return(clone->QueryInterface(iid, reinterpret_cast<void**>(group)));
  } catch (const std::exception&) {
    *group = nullptr;
    return trace.Return(E_FAIL);
  }
}

// ---- items --------------------------------------------------------------------

TOPCItem* TOPCGroup::NewItem() {
  FItems.push_back(std::make_unique<TOPCItem>(this, 0));
  TOPCItem* raw = FItems.back().get();
  try {
    raw->FHandle = FItemHandles.Add(raw);
  } catch (...) {
    FItems.pop_back();
    throw;
  }
  return raw;
}

HRESULT TOPCGroup::CheckItemDef(const OPCITEMDEF& def, TNorvoVar** tag, bool* loggedUnknown) {
  *tag = nullptr;
  const std::string id = Utf8(def.szItemID);
  if (id.empty() || id.find('.') == std::string::npos) return OPC_E_INVALIDITEMID;
  IOPCAddressSpace* space = FServer->Env().addressSpace;
  TNorvoVar* found = space ? space->FindItem(id) : nullptr;
  if (!found) {
    if (!*loggedUnknown) {
      *loggedUnknown = true;
      FServer->SessionWrite("Client tried to access non-existing location (" + id + "...)");
    }
    return OPC_E_UNKNOWNITEMID;
  }
  if (def.vtRequestedDataType > kMaxRequestedType) return OPC_E_BADTYPE;
  if (def.vtRequestedDataType != VT_EMPTY) {
    // A sample of the tag's kind must convert to the type asked for.
    ComVariant sample = found->FVarType == ntString ? ComVariant::FromString("vv") : ComVariant::FromI4(1);
    ComVariant converted;
    try {
      if (FAILED(VariantChangeType(converted.get(), sample.get(), 0, def.vtRequestedDataType))) return OPC_E_BADTYPE;
    } catch (const std::exception&) {
      return OPC_E_BADTYPE;
    }
  }
  *tag = found;
  return S_OK;
}

HRESULT TOPCGroup::AddItems(uint32_t count, OPCITEMDEF* items, OPCITEMRESULT** results, HRESULT** errors) {
  if (results) *results = nullptr;
  if (errors) *errors = nullptr;
  const TOPCEnvironment& env = FServer->Env();
  // Keeps the timer away from the group while the list grows, whatever the exit.
  struct Adding {
    TOPCGroup& g;
    explicit Adding(TOPCGroup& group) : g(group) { g.FAddingItems = true; }
    ~Adding() { g.FAddingItems = false; }
  } adding(*this);
  const bool waitForClient = env.host && env.host->WaitForClient();
  HRESULT hr = S_OK;
  {
    TCallTrace trace(env.Log(), "IOPCItemMgt::AddItems");
    if (waitForClient) env.host->RestartAutoConnectCountdown();
    if (env.sessionLog) env.sessionLog->WriteDebug("DEBUG_XXXX_AddItemsIn " + std::to_string(count));

    if (count == 0 || AbsurdCount(count) || !items || !results || !errors) {
      hr = E_INVALIDARG;
    } else {
      TaskBlock<OPCITEMRESULT> res(TaskArray<OPCITEMRESULT>(count));
      TaskBlock<HRESULT> err(TaskArray<HRESULT>(count));
      if (!res || !err) {
        hr = E_OUTOFMEMORY;
      } else {
        try {
          FItems.reserve(FItems.size() + count);
          FItemHandles.Reserve(FItems.size() + count);
          bool loggedUnknown = false;
          for (uint32_t i = 0; i < count; ++i) {
            const OPCITEMDEF& def = items[i];
            TNorvoVar* tag = nullptr;
            err[i] = CheckItemDef(def, &tag, &loggedUnknown);
            if (err[i] != S_OK) {
              hr = S_FALSE;
              continue;
            }
            TOPCItem* item = NewItem();
            res[i].hServer = item->Handle();
            item->BindTag(tag);
            item->FItemID = Utf8(def.szItemID);
            item->FActive = def.bActive != 0;
            item->FClientHandle = def.hClient;
            item->SetRequestedType(def.vtRequestedDataType);
            res[i].vtCanonicalDataType = item->CanonicalType();
            res[i].dwAccessRights = item->AccessRights();
          }
          *results = res.Release();
          *errors = err.Release();
        } catch (const std::bad_alloc&) {
          // Items made before the failure stay; the client gets no handles
          // for them, so take them back.
          for (uint32_t i = 0; i < count; ++i) {
            if (err[i] != S_OK || res[i].hServer == 0) continue;
            if (TOPCItem* it = FindItem(res[i].hServer)) it->FRemoved = true;
            FItemHandles.Remove(res[i].hServer);
          }
          std::erase_if(FItems, [](const auto& it) { return it->FRemoved; });
          hr = E_OUTOFMEMORY;
        }
      }
    }
    if (waitForClient) env.host->RestartAutoConnectCountdown();
    trace.Return(hr);
  }
  if (SUCCEEDED(hr) && env.sessionLog) env.sessionLog->WriteDebug("DEBUG_XXXX_AddItemsOUT ");
  return hr;
}

HRESULT TOPCGroup::ValidateItems(uint32_t count, OPCITEMDEF* items, int32_t /*blobUpdate*/, OPCITEMRESULT** results,
                                 HRESULT** errors) {
  if (results) *results = nullptr;
  if (errors) *errors = nullptr;
  TCallTrace trace(FServer->Env().Log(), "IOPCItemMgt::ValidateItems");
  if (count == 0 || AbsurdCount(count) || !items || !results || !errors) return trace.Return(E_INVALIDARG);
  TaskBlock<OPCITEMRESULT> res(TaskArray<OPCITEMRESULT>(count));
  TaskBlock<HRESULT> err(TaskArray<HRESULT>(count));
  if (!res || !err) return trace.Return(E_OUTOFMEMORY);
  IOPCAddressSpace* space = FServer->Env().addressSpace;
  HRESULT hr = S_OK;
  for (uint32_t i = 0; i < count; ++i) {
    const std::string id = Utf8(items[i].szItemID);
    TNorvoVar* tag = nullptr;
    if (id.empty()) {
      err[i] = OPC_E_INVALIDITEMID;
    } else if (!space || !(tag = space->FindItem(id))) {
      err[i] = OPC_E_UNKNOWNITEMID;
    } else {
      err[i] = S_OK;
      res[i].vtCanonicalDataType = VarTypeVT(tag->FVarType);
      res[i].dwAccessRights = static_cast<uint32_t>(tag->FAccessRights);
    }
    if (err[i] != S_OK) hr = S_FALSE;
  }
  *results = res.Release();
  *errors = err.Release();
  return trace.Return(hr);
}

template <class Fn>
HRESULT TOPCGroup::ForEachHandle(const char* traceName, uint32_t count, OPCHANDLE* handles, HRESULT** errors,
                                 Fn&& fn) {
  if (errors) *errors = nullptr;
  TCallTrace trace(FServer->Env().Log(), traceName);
  if (count == 0 || AbsurdCount(count) || !handles || !errors) return trace.Return(E_INVALIDARG);
  TaskBlock<HRESULT> err(TaskArray<HRESULT>(count));
  if (!err) return trace.Return(E_OUTOFMEMORY);
  HRESULT hr = S_OK;
  for (uint32_t i = 0; i < count; ++i) {
    // fn gives the entry's error and whether it counts against the call.
    bool counts = true;
    err[i] = fn(i, FindItem(handles[i]), &counts);
    if (err[i] != S_OK && counts) hr = S_FALSE;
  }
  *errors = err.Release();
  return trace.Return(hr);
}

HRESULT TOPCGroup::RemoveItems(uint32_t count, OPCHANDLE* serverHandles, HRESULT** errors) {
  bool removed = false;
  HRESULT hr = ForEachHandle("IOPCItemMgt::RemoveItems", count, serverHandles, errors,
                             [&](uint32_t, TOPCItem* item, bool*) -> HRESULT {
                               if (!item) return OPC_E_INVALIDHANDLE;
                               // Out of the table now, so a repeated handle in
                               // the same call is refused; freed below in one pass.
                               item->FRemoved = true;
                               FItemHandles.Remove(item->Handle());
                               removed = true;
                               return S_OK;
                             });
  if (removed) std::erase_if(FItems, [](const auto& it) { return it->FRemoved; });
  return hr;
}

HRESULT TOPCGroup::SetActiveState(uint32_t count, OPCHANDLE* serverHandles, int32_t active, HRESULT** errors) {
  return ForEachHandle("IOPCItemMgt::SetActiveState", count, serverHandles, errors,
                       [&](uint32_t, TOPCItem* item, bool*) -> HRESULT {
                         if (!item) return OPC_E_INVALIDHANDLE;
                         item->FActive = active != 0;
                         return S_OK;
                       });
}

HRESULT TOPCGroup::SetClientHandles(uint32_t count, OPCHANDLE* serverHandles, OPCHANDLE* clientHandles,
                                    HRESULT** errors) {
  if (!clientHandles) {
    if (errors) *errors = nullptr;
    TCallTrace trace(FServer->Env().Log(), "IOPCItemMgt::SetClientHandles");
    return trace.Return(E_INVALIDARG);
  }
  return ForEachHandle("IOPCItemMgt::SetClientHandles", count, serverHandles, errors,
                       [&](uint32_t i, TOPCItem* item, bool*) -> HRESULT {
                         if (!item) return OPC_E_INVALIDHANDLE;
                         item->FClientHandle = clientHandles[i];
                         return S_OK;
                       });
}

HRESULT TOPCGroup::SetDatatypes(uint32_t count, OPCHANDLE* serverHandles, VARTYPE* requestedDatatypes,
                                HRESULT** errors) {
  if (!requestedDatatypes) {
    if (errors) *errors = nullptr;
    TCallTrace trace(FServer->Env().Log(), "IOPCItemMgt::SetDataTypes");
    return trace.Return(E_INVALIDARG);
  }
  return ForEachHandle("IOPCItemMgt::SetDataTypes", count, serverHandles, errors,
                       [&](uint32_t i, TOPCItem* item, bool* counts) -> HRESULT {
                         if (requestedDatatypes[i] > kMaxRequestedType) {
                           *counts = false;
                           return OPC_E_BADTYPE;
                         }
                         if (!item) return OPC_E_INVALIDHANDLE;
                         item->SetRequestedType(requestedDatatypes[i]);
                         return S_OK;
                       });
}

HRESULT TOPCGroup::CreateEnumerator(const IID& iid, IUnknown** enumerator) {
  if (enumerator) *enumerator = nullptr;
  TCallTrace trace(FServer->Env().Log(), "IOPCItemMgt::CreateEnumerator");
  if (!enumerator || iid != IID_IEnumOPCItemAttributes) return trace.Return(E_INVALIDARG);
  if (FItems.empty()) return trace.Return(S_FALSE);
  try {
    *enumerator = static_cast<IEnumOPCItemAttributes*>(MakeComObject<TOPCItemAttEnumerator>(this).Detach());
  } catch (const std::bad_alloc&) {
    return trace.Return(E_OUTOFMEMORY);
  }
  return trace.Return(S_OK);
}
