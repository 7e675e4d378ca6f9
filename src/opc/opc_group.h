// A group: what a client reads, writes and subscribes through. Holds the
// items, each bound to one tag.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "opc/handle_table.h"
#include "opc/opc_callbacks.h"
#include "opc/opc_da.h"
#include "opc/opc_data_object.h"
#include "opc/opc_item.h"

class TDA2;
class TLogger;

// A client's value into a tag; false when the tag refuses it.
bool StoreClientValue(TNorvoVar& tag, const VARIANT& value);

class TOPCGroup final : public ComObject<IOPCGroupStateMgt, IOPCItemMgt, IConnectionPointContainer, IOPCSyncIO,
                                         IOPCAsyncIO2, IOPCAsyncIO, IDataObject> {
 public:
  // Update periods are whole multiples of the group timer's interval.
  static constexpr uint32_t kTimerInterval = 25;

  // Use TDA2::NewGroup: it lists the group and gives it its handle.
  explicit TOPCGroup(TDA2* server);
  ~TOPCGroup() override;

  // IOPCGroupStateMgt
  HRESULT GetState(uint32_t* updateRate, int32_t* active, OLECHAR** name, int32_t* timeBias, float* percentDeadband,
                   LCID* lcid, OPCHANDLE* clientGroup, OPCHANDLE* serverGroup) override;
  HRESULT SetState(uint32_t* requestedUpdateRate, uint32_t* revisedUpdateRate, int32_t* active, int32_t* timeBias,
                   float* percentDeadband, LCID* lcid, OPCHANDLE* clientGroup) override;
  HRESULT SetName(const OLECHAR* name) override;
  HRESULT CloneGroup(const OLECHAR* name, const IID& iid, IUnknown** group) override;

  // IOPCItemMgt
  HRESULT AddItems(uint32_t count, OPCITEMDEF* items, OPCITEMRESULT** results, HRESULT** errors) override;
  HRESULT ValidateItems(uint32_t count, OPCITEMDEF* items, int32_t blobUpdate, OPCITEMRESULT** results,
                        HRESULT** errors) override;
  HRESULT RemoveItems(uint32_t count, OPCHANDLE* serverHandles, HRESULT** errors) override;
  HRESULT SetActiveState(uint32_t count, OPCHANDLE* serverHandles, int32_t active, HRESULT** errors) override;
  HRESULT SetClientHandles(uint32_t count, OPCHANDLE* serverHandles, OPCHANDLE* clientHandles,
                           HRESULT** errors) override;
  HRESULT SetDatatypes(uint32_t count, OPCHANDLE* serverHandles, VARTYPE* requestedDatatypes,
                       HRESULT** errors) override;
  HRESULT CreateEnumerator(const IID& iid, IUnknown** enumerator) override;

  // IConnectionPointContainer
  HRESULT EnumConnectionPoints(IEnumConnectionPoints** out) override;
  HRESULT FindConnectionPoint(const IID& iid, IConnectionPoint** out) override;

  // IOPCSyncIO
  HRESULT Read(OPCDATASOURCE source, uint32_t count, OPCHANDLE* serverHandles, OPCITEMSTATE** itemValues,
               HRESULT** errors) override;
  HRESULT Write(uint32_t count, OPCHANDLE* serverHandles, VARIANT* itemValues, HRESULT** errors) override;

  // IOPCAsyncIO2
  HRESULT Read(uint32_t count, OPCHANDLE* serverHandles, uint32_t transactionID, uint32_t* cancelID,
               HRESULT** errors) override;
  HRESULT Write(uint32_t count, OPCHANDLE* serverHandles, VARIANT* itemValues, uint32_t transactionID,
                uint32_t* cancelID, HRESULT** errors) override;
  HRESULT Refresh2(OPCDATASOURCE source, uint32_t transactionID, uint32_t* cancelID) override;
  HRESULT Cancel2(uint32_t cancelID) override;
  HRESULT SetEnable(int32_t enable) override;
  HRESULT GetEnable(int32_t* enable) override;

  // IOPCAsyncIO
  HRESULT Read(uint32_t connection, OPCDATASOURCE source, uint32_t count, OPCHANDLE* serverHandles,
               uint32_t* transactionID, HRESULT** errors) override;
  HRESULT Write(uint32_t connection, uint32_t count, OPCHANDLE* serverHandles, VARIANT* itemValues,
                uint32_t* transactionID, HRESULT** errors) override;
  HRESULT Refresh(uint32_t connection, OPCDATASOURCE source, uint32_t* transactionID) override;
  HRESULT Cancel(uint32_t transactionID) override;

  // IDataObject
  HRESULT GetData(FORMATETC* formatIn, STGMEDIUM* medium) override;
  HRESULT GetDataHere(FORMATETC* format, STGMEDIUM* medium) override;
  HRESULT QueryGetData(FORMATETC* format) override;
  HRESULT GetCanonicalFormatEtc(FORMATETC* formatIn, FORMATETC* formatOut) override;
  HRESULT SetData(FORMATETC* format, STGMEDIUM* medium, int32_t release) override;
  HRESULT EnumFormatEtc(uint32_t direction, IEnumFORMATETC** out) override;
  HRESULT DAdvise(FORMATETC* format, uint32_t advf, IAdviseSink* sink, uint32_t* connection) override;
  HRESULT DUnadvise(uint32_t connection) override;
  HRESULT EnumDAdvise(IEnumSTATDATA** out) override;

  // One pass of the group timer, given the pass's tick count: queued
  // replies, DA 1.0 requests, data changes and read requests.
  void Tick(uint32_t tick);
  // Whether the item is to be reported: its value or quality differs from
  // what it last reported (strings and arrays always are). Updates the
  // item's change memory.
  static bool HasChanged(TOPCItem& item);
  // The same with the quality options read once for the whole pass.
  static bool HasChanged(TOPCItem& item, const TQualityRules& rules);

  // A connect (sink queried for IOPCDataCallback) or a disconnect on the
  // data callback point.
  void DataCallbackChanged(IOPCDataCallback* sink, bool connecting);
  // A new callback appended to FCallbacks.
  TOPCCallback& NewCallback();
  TOPCCallback& QueueCallback(uint8_t kind, uint32_t transactionID, TItemRefs items, uint32_t source);
  // Sends a data change of the items through the data callback now.
  void SendDataChange(TItemRefs items);
  // Sends the items as a DA 1.0a stream through the subscription; source 1
  // reports inactive items as out of service.
  void SendAdviseData(TAsyncIOSubscription& subscription, const TItemRefs& items, uint32_t source,
                      uint32_t transactionID, const std::vector<HRESULT>* writeErrors = nullptr);
  // Sends the slot's reply once its items are fresh (device requests) and
  // frees the slot.
  void ProcessPendingAsyncIO(TPendingAsyncIO& slot);
  // Whether client callbacks are traced (-DEBUGLOG).
  bool DebugLogOn() const;
  TLogger& Log() const;
  TDateTime Now() const;

  // Revises a requested period to a multiple of the timer interval.
  void SetUpdateRate(uint32_t requested);
  void CopyStateTo(TOPCGroup& clone);

  // The item behind a handle of this group, or null; never touches memory
  // for a handle that is not in the table.
  TOPCItem* FindItem(OPCHANDLE handle) const { return FItemHandles.Find(handle); }
  // The same, quicker for handles asked in the order of the items (as data
  // changes list them): the item at *cursor is tried first, and a hit moves
  // the cursor on.
  TOPCItem* FindItemInOrder(OPCHANDLE handle, size_t* cursor) const {
    if (*cursor < FItems.size()) {
      TOPCItem* item = FItems[*cursor].get();
      // Listed and not being removed: then the table holds it under its handle.
      if (item->Handle() == handle && !item->FRemoved) {
        ++*cursor;
        return item;
      }
    }
    return FindItem(handle);
  }
  const std::vector<std::unique_ptr<TOPCItem>>& Items() const { return FItems; }
  // References the client holds (those of a timer pass in progress left out).
  uint32_t ClientRefCount();
  TDA2& Server() const { return *FServer; }
  OPCHANDLE ServerHandle() const { return FServerHandle; }

  // Called by the item when it lets go of a tag.
  void TagReleased(TNorvoVar* tag);

  std::string FName;
  bool FActive = false;
  OPCHANDLE FClientHandle = 0;
  uint32_t FUpdateRate = 0;
  int32_t FTimeBias = 0;
  float FPercentDeadband = 0;
  LCID FLocaleID = 0;
  bool FDeleted = false;
  bool FAddingItems = false;
  uint32_t FLastUpdateTick = 0;
  bool FCallbackEnabled = true;
  bool FCallbackLogged = false;
  bool FDataChangeDue = false;
  bool FAdviseChangeDue = false;
  ComPtr<IOPCDataCallback> FDataCallback;
  // Queued replies, oldest first; data changes never wait here.
  std::vector<std::unique_ptr<TOPCCallback>> FCallbacks;
  TAsyncIOSubscription FSubscriptionTime;
  TAsyncIOSubscription FSubscriptionData;
  TAsyncIOSubscription FSubscriptionWrite;
  TPendingAsyncIO FPendingRead;
  TPendingAsyncIO FPendingWrite;
  TPendingAsyncIO FPendingRefresh;
  // References taken by a timer pass in progress.
  uint32_t FPassRefs = 0;

 protected:
  void* QueryExtraInterface(const IID& iid) override;

 private:
  friend class TDA2;

  TOPCItem* NewItem();
  // Runs AddItems' per-entry checks; S_OK leaves the tag in *tag.
  HRESULT CheckItemDef(const OPCITEMDEF& def, TNorvoVar** tag, bool* loggedUnknown);
  // Shared shape of the methods that take a list of item handles.
  template <class Fn>
  HRESULT ForEachHandle(const char* traceName, uint32_t count, OPCHANDLE* handles, HRESULT** errors, Fn&& fn);

  ComPtr<TDA2> FServer;  // keeps the server alive as long as the group (declared first: freed last)
  OPCHANDLE FServerHandle = 0;
  std::vector<std::unique_ptr<TOPCItem>> FItems;  // owned, in the order added
  THandleTable<TOPCItem> FItemHandles;
  TDataCallbackPoint FDataCallbackPoint;

  // Gathers the items to report; with raiseRequests, also raises the read
  // requests of the update-period boundary in the same walk, noting in
  // FRaisedRequests the tags whose request was not yet set.
  TItemRefs GatherChanges(bool raiseRequests);
  // Read requests of an update-period boundary.
  void RaiseReadRequests();
  // Tags whose read request a pass raised early; kept between passes for
  // its capacity only.
  std::vector<TNorvoVar*> FRaisedRequests;

  // The DA 1.0 subscription of a connection number, or null.
  TAsyncIOSubscription* SubscriptionOf(uint32_t connection);
  // Active items for a refresh, with their read requests raised.
  TItemRefs ActiveItemsForRefresh();
  HRESULT RequestDeviceReads(uint32_t count, const OPCHANDLE* serverHandles, HRESULT* errors, TItemRefs& request);
  void FillPending(TPendingAsyncIO& slot, TAsyncIOSubscription* subscription, uint32_t source, TItemRefs items,
                   uint32_t* transactionID);
};
