// A group: what a client reads, writes and subscribes through. Holds the
// items, each bound to one tag.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "opc/handle_table.h"
#include "opc/opc_da.h"
#include "opc/opc_item.h"
#include "platform/connection_point.h"

class TDA2;

class TOPCGroup final : public ComObject<IOPCGroupStateMgt, IOPCItemMgt, IConnectionPointContainer> {
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

  // One pass of the group timer, given the pass's tick count: queued
  // replies, data changes and read requests go here.
  void Tick(uint32_t tick);

  // Revises a requested period to a multiple of the timer interval.
  void SetUpdateRate(uint32_t requested);
  void CopyStateTo(TOPCGroup& clone);

  // The item behind a handle of this group, or null; never touches memory
  // for a handle that is not in the table.
  TOPCItem* FindItem(OPCHANDLE handle) const { return FItemHandles.Find(handle); }
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
  TConnectionPoints FConnectionPoints;
};
