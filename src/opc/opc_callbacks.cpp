#include "opc/opc_callbacks.h"

#include <algorithm>
#include <new>

#include "log/logger.h"
#include "log/session_log.h"
#include "model/norvo_var.h"
#include "opc/opc_group.h"
#include "opc/opc_server.h"
#include "opc/opc_server_collection.h"
#include "opc/opc_support.h"
#include "platform/date_time.h"

uint32_t NextCancelID() {
  static uint32_t next = 0;
  return next++;
}

// ---- the callback ----------------------------------------------------------------

void TOPCCallback::SetItems(TItemRefs items) {
  FItemList = std::move(items);
  FCount = static_cast<uint32_t>(FItemList.size());
}

bool TOPCCallback::IsReady() const {
  if (FNoWait || FSource != OPC_DS_DEVICE) return true;
  size_t cursor = 0;
  for (OPCHANDLE h : FItemList) {
    const TOPCItem* item = FGroup->FindItemInOrder(h, &cursor);
    const TNorvoVar* tag = item ? item->Tag() : nullptr;
    if (tag && tag->FTimestamp < FCreated && !tag->CannotRefresh()) return false;
  }
  return true;
}

void TOPCCallback::Fire() {
  switch (FKind) {
    case ckWrite: FireWriteComplete(); break;
    case ckCancel: FireCancelComplete(); break;
    default: FireDataOrRead(); break;
  }
}

namespace {

// Opens and closes a traced callback block when tracing is on.
class TCallbackTrace {
 public:
  TCallbackTrace(TOPCGroup& group, const char* name, bool always = false)
      : log_(group.Log()), name_(name), on_(always || group.DebugLogOn()) {
    if (on_) log_.EnterBlock(TLogBlockKind::CallStart, name_, true);
  }
  ~TCallbackTrace() {
    if (on_) log_.LeaveBlock(TLogBlockKind::CallEnd, name_, true);
  }
  TCallbackTrace(const TCallbackTrace&) = delete;
  TCallbackTrace& operator=(const TCallbackTrace&) = delete;

 private:
  TLogger& log_;
  const char* name_;
  bool on_;
};

// The five arrays of a data or read reply; the server owns them and frees
// them (values cleared) after the sink returns.
struct TDataArrays {
  explicit TDataArrays(uint32_t n)
      : count(n),
        handles(TaskArray<OPCHANDLE>(n)),
        values(TaskArray<VARIANT>(n)),
        qualities(TaskArray<uint16_t>(n)),
        times(TaskArray<FILETIME>(n)),
        errors(TaskArray<HRESULT>(n)) {}
  ~TDataArrays() {
    if (values) {
      for (uint32_t i = 0; i < count; ++i) VariantClear(&values[i]);
    }
  }
  bool Ok() const { return handles && values && qualities && times && errors; }

  uint32_t count;
  TaskBlock<OPCHANDLE> handles;
  TaskBlock<VARIANT> values;
  TaskBlock<uint16_t> qualities;
  TaskBlock<FILETIME> times;
  TaskBlock<HRESULT> errors;
};

}  // namespace

void TOPCCallback::FireDataOrRead() {
  const char* name = FKind == ckDataChange ? "IOPCDataCallBack::OnDataChange"
                     : FKind == ckRefresh  ? "IOPCDataCallBack::OnDataChange(Refresh)"
                                           : "IOPCDataCallBack::OnReadComplete";
  TCallbackTrace trace(*FGroup, name);
  // A copy: the client may unadvise from inside the call.
  ComPtr<IOPCDataCallback> sink = FGroup->FDataCallback;
  if (!sink || FCancelled) return;
  TDataArrays a(FCount);
  if (!a.Ok()) return;
  HRESULT masterQuality = S_OK, masterError = S_OK;
  // Nothing in the fill calls out, so the options and the zone hold still.
  const TQualityRules rules = TQualityRules::Current();
  TUtcStampCache stamps;
  size_t cursor = 0;
  for (uint32_t i = 0; i < FCount; ++i) {
    VARIANT& v = a.values[i];
    v.vt = VT_I4;
    v.lVal = 0;
    a.errors[i] = E_FAIL;
    TOPCItem* item = FGroup->FindItemInOrder(FItemList[i], &cursor);
    TNorvoVar* tag = item ? item->Tag() : nullptr;
    if (!tag) {
      a.errors[i] = OPC_E_UNKNOWNITEMID;
    } else if ((item->AccessRights() & OPC_READABLE) == 0) {
      a.errors[i] = OPC_E_BADRIGHTS;
    } else {
      try {
        item->GetValue(&v);
        a.handles[i] = item->FClientHandle;
        a.qualities[i] = item->ItemQuality(rules);
        a.times[i] = item->TimeStampUtc(stamps);
        a.errors[i] = S_OK;
        if ((a.qualities[i] & OPC_QUALITY_MASK) != OPC_QUALITY_MASK) masterQuality = S_FALSE;
      } catch (const std::exception&) {
        a.errors[i] = E_FAIL;
      }
    }
    if (a.errors[i] != S_OK) masterQuality = masterError = S_FALSE;
  }
  const OPCHANDLE group = FGroup->FClientHandle;
  if (FKind == ckRead) {
    sink->OnReadComplete(FTransactionID, group, masterQuality, masterError, FCount, a.handles.get(), a.values.get(),
                         a.qualities.get(), a.times.get(), a.errors.get());
  } else {
    sink->OnDataChange(FKind == ckRefresh ? FTransactionID : 0, group, masterQuality, masterError, FCount,
                       a.handles.get(), a.values.get(), a.qualities.get(), a.times.get(), a.errors.get());
  }
}

void TOPCCallback::FireWriteComplete() {
  TCallbackTrace trace(*FGroup, "IOPCDataCallBack::OnWriteComplete");
  ComPtr<IOPCDataCallback> sink = FGroup->FDataCallback;
  if (!sink || FCancelled) return;
  TaskBlock<OPCHANDLE> handles(TaskArray<OPCHANDLE>(FCount));
  TaskBlock<HRESULT> errors(TaskArray<HRESULT>(FCount));
  if (!handles || !errors) return;
  HRESULT masterError = S_OK;
  size_t cursor = 0;
  for (uint32_t i = 0; i < FCount; ++i) {
    const TOPCItem* item = FGroup->FindItemInOrder(FItemList[i], &cursor);
    if (!item || !item->Tag()) {
      errors[i] = OPC_E_UNKNOWNITEMID;
    } else if (item->IsWritable()) {
      handles[i] = item->FClientHandle;
      errors[i] = S_OK;
    } else {
      errors[i] = OPC_E_BADRIGHTS;
    }
    if (errors[i] != S_OK) masterError = S_FALSE;
  }
  sink->OnWriteComplete(FTransactionID, FGroup->FClientHandle, masterError, FCount, handles.get(), errors.get());
}

void TOPCCallback::FireCancelComplete() {
  TCallbackTrace trace(*FGroup, "IOPCDataCallBack::OnCancelComplete", true);
  ComPtr<IOPCDataCallback> sink = FGroup->FDataCallback;
  if (sink && !FCancelled) sink->OnCancelComplete(FTransactionID, FGroup->FClientHandle);
}

// ---- the connection point --------------------------------------------------------

namespace {

class TOnePointEnum final : public ComObject<IEnumConnectionPoints> {
 public:
  TOnePointEnum(IConnectionPoint* point, uint32_t pos) : point_(point), pos_(pos) {}
  HRESULT Next(uint32_t count, IConnectionPoint** items, uint32_t* fetched) override {
    if (!items || (count > 1 && !fetched)) return E_POINTER;
    uint32_t n = 0;
    if (count > 0 && pos_ == 0) {
      point_->AddRef();
      items[n++] = point_.get();
      pos_ = 1;
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT Skip(uint32_t count) override {
    if (count == 0) return S_OK;
    const bool had = pos_ == 0;
    pos_ = 1;
    return had && count == 1 ? S_OK : S_FALSE;
  }
  HRESULT Reset() override {
    pos_ = 0;
    return S_OK;
  }
  HRESULT Clone(IEnumConnectionPoints** out) override {
    if (!out) return E_POINTER;
    try {
      *out = MakeComObject<TOnePointEnum>(point_.get(), pos_).Detach();
    } catch (const std::bad_alloc&) {
      *out = nullptr;
      return E_OUTOFMEMORY;
    }
    return S_OK;
  }

 private:
  ComPtr<IConnectionPoint> point_;
  uint32_t pos_;
};

}  // namespace

TDataCallbackPoint::TDataCallbackPoint(TOPCGroup* group)
    : group_(group), inner_(group, IID_IOPCDataCallback, TConnectionPoint::kUnlimited) {}

HRESULT TDataCallbackPoint::QueryInterface(const IID& iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (iid != IID_IUnknown && iid != IID_IConnectionPoint) return E_NOINTERFACE;
  AddRef();
  *out = static_cast<IConnectionPoint*>(this);
  return S_OK;
}

uint32_t TDataCallbackPoint::AddRef() { return group_->AddRef(); }
uint32_t TDataCallbackPoint::Release() { return group_->Release(); }

HRESULT TDataCallbackPoint::Advise(IUnknown* sink, uint32_t* cookie) {
  HRESULT hr = inner_.Advise(sink, cookie);
  if (hr != S_OK) return hr;
  ComPtr<IOPCDataCallback> callback;
  sink->QueryInterface(IID_IOPCDataCallback, callback.put_void());
  group_->DataCallbackChanged(callback.get(), true);
  return S_OK;
}

HRESULT TDataCallbackPoint::Unadvise(uint32_t cookie) {
  // Held over the call: the group drops its reference to the sink too.
  ComPtr<TOPCGroup> keep(group_);
  HRESULT hr = inner_.Unadvise(cookie);
  if (hr == S_OK) group_->DataCallbackChanged(nullptr, false);
  return hr;
}

HRESULT TDataCallbackPoint::Enumerate(IEnumConnectionPoints** out) {
  if (!out) return E_POINTER;
  try {
    *out = MakeComObject<TOnePointEnum>(this, 0).Detach();
  } catch (const std::bad_alloc&) {
    *out = nullptr;
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

// ---- the group's side -------------------------------------------------------------

bool TOPCGroup::DebugLogOn() const {
  const TOPCServerCollection* c = FServer->Collection();
  return c && c->FDebugLog;
}

TLogger& TOPCGroup::Log() const { return FServer->Env().Log(); }

TDateTime TOPCGroup::Now() const { return FServer->Env().Time().Now(); }

void TOPCGroup::DataCallbackChanged(IOPCDataCallback* sink, bool connecting) {
  FDataCallback = connecting ? ComPtr<IOPCDataCallback>(sink) : nullptr;
  if (!FCallbackLogged) {
    FCallbackLogged = true;
    FServer->SessionWrite("Client established AsyncIO2 callback for group " + FName);
  }
}

TOPCCallback& TOPCGroup::NewCallback() {
  FCallbacks.push_back(std::make_unique<TOPCCallback>(this, NextCancelID()));
  return *FCallbacks.back();
}

TOPCCallback& TOPCGroup::QueueCallback(uint8_t kind, uint32_t transactionID, TItemRefs items, uint32_t source) {
  TOPCCallback& cb = NewCallback();
  cb.FKind = kind;
  cb.FTransactionID = transactionID;
  cb.SetItems(std::move(items));
  cb.FCreated = Now();
  cb.FSource = source;
  cb.FNoWait = false;
  return cb;
}

void TOPCGroup::SendDataChange(TItemRefs items) {
  // Consumes a cancel ID like any callback, but never waits in the queue
  // where Cancel2 could find it.
  TOPCCallback cb(this, NextCancelID());
  cb.FKind = ckDataChange;
  cb.SetItems(std::move(items));
  try {
    cb.Fire();
  } catch (const std::exception&) {
    // A failed data change is not retried; the next period reports afresh.
  }
}

bool TOPCGroup::HasChanged(TOPCItem& item) { return HasChanged(item, TQualityRules::Current()); }

bool TOPCGroup::HasChanged(TOPCItem& item, const TQualityRules& rules) {
  TNorvoVar* tag = item.Tag();
  if (!tag) return false;
  if (tag->FVarType >= ntString) return true;
  const uint16_t quality = item.ItemQuality(rules);
  if (item.FHasLast && tag->FValue == item.FLastValue && quality == item.FLastQuality) return false;
  item.FLastValue = tag->FValue;
  item.FLastQuality = quality;
  item.FHasLast = true;
  return true;
}

namespace {

// Items and tags lie scattered on the heap and a pass over many of them is
// bound by memory; asking for them a few items ahead hides the wait.
constexpr size_t kPrefetchItems = 32;
constexpr size_t kPrefetchTags = 16;

template <class Items>
void PrefetchAhead(const Items& items, size_t i) {
  if (i + kPrefetchItems < items.size()) __builtin_prefetch(items[i + kPrefetchItems].get());
  if (i + kPrefetchTags < items.size()) __builtin_prefetch(items[i + kPrefetchTags]->Tag(), 1);
}

}  // namespace

TItemRefs TOPCGroup::GatherChanges(bool raiseRequests) {
  TItemRefs changed;
  FRaisedRequests.clear();
  // Nothing in the walk calls out, so the options cannot change under it.
  const TQualityRules rules = TQualityRules::Current();
  for (size_t i = 0; i < FItems.size(); ++i) {
    PrefetchAhead(FItems, i);
    TOPCItem& item = *FItems[i];
    if (!item.FActive) continue;
    if (HasChanged(item, rules)) {
      changed.push_back(item.Handle());
      // A report goes out before the boundary's requests, and the client may
      // change the group meanwhile: requests wait for the usual step.
      raiseRequests = false;
    }
    TNorvoVar* tag = item.Tag();
    if (raiseRequests && tag && !tag->FReadRequest) {
      tag->FReadRequest = true;
      FRaisedRequests.push_back(tag);
    }
  }
  if (!changed.empty()) {
    // Undone: the client must see the tags as they were before the boundary.
    for (TNorvoVar* tag : FRaisedRequests) tag->FReadRequest = false;
    FRaisedRequests.clear();
  }
  return changed;
}

void TOPCGroup::RaiseReadRequests() {
  for (size_t i = 0; i < FItems.size(); ++i) {
    PrefetchAhead(FItems, i);
    const TOPCItem& item = *FItems[i];
    if (item.FActive && item.Tag()) item.Tag()->FReadRequest = true;
  }
}

void TOPCGroup::Tick(uint32_t tick) {
  // Ready replies, newest first. A sink may queue further requests; those
  // wait for the next pass.
  for (size_t i = FCallbacks.size(); i-- > 0;) {
    if (i >= FCallbacks.size() || !FCallbacks[i]->IsReady()) continue;
    std::unique_ptr<TOPCCallback> cb = std::move(FCallbacks[i]);
    FCallbacks.erase(FCallbacks.begin() + static_cast<std::ptrdiff_t>(i));
    try {
      cb->Fire();
    } catch (const std::exception&) {
      // A reply is sent once; a failure is not retried.
    }
  }

  ProcessPendingAsyncIO(FPendingRead);
  ProcessPendingAsyncIO(FPendingWrite);
  ProcessPendingAsyncIO(FPendingRefresh);

  // A pass that gathers nothing calls nobody, so when it also meets a
  // boundary the read requests can be raised in the same walk over the items.
  bool requestsRaised = false;
  if (FDataChangeDue || FAdviseChangeDue) {
    const bool dataDue = FDataChangeDue, adviseDue = FAdviseChangeDue;
    FDataChangeDue = FAdviseChangeDue = false;
    TItemRefs changed;
    if (FActive) {
      const bool boundary = TickDiff(tick, FLastUpdateTick) >= FUpdateRate;
      changed = GatherChanges(boundary);
      requestsRaised = boundary && changed.empty();
    }
    if (!changed.empty()) {
      if (adviseDue) {
        if (FSubscriptionTime.AdviseSink) SendAdviseData(FSubscriptionTime, changed, OPC_DS_DEVICE, 0);
        if (FSubscriptionData.AdviseSink) SendAdviseData(FSubscriptionData, changed, OPC_DS_DEVICE, 0);
      }
      if (dataDue && FDataCallback) SendDataChange(std::move(changed));
    }
  }

  if (TickDiff(tick, FLastUpdateTick) < FUpdateRate) return;
  FLastUpdateTick = tick;
  if (FCallbackEnabled && FDataCallback) FDataChangeDue = true;
  if (FSubscriptionTime.AdviseSink || FSubscriptionData.AdviseSink) FAdviseChangeDue = true;
  if (FActive && !requestsRaised) RaiseReadRequests();
}
