// What a group sends on its own initiative: queued replies to asynchronous
// requests and periodic data changes, and the connection point through
// which a client hands over its IOPCDataCallback sink.
#pragma once

#include <cstdint>
#include <vector>

#include "opc/opc_da.h"
#include "platform/clock.h"
#include "platform/connection_point.h"

class TOPCGroup;

// Item references of queued replies are server handles: handles are never
// reused, so an item removed meanwhile is simply not found any more.
using TItemRefs = std::vector<OPCHANDLE>;

enum TCallbackKind : uint8_t {
  ckDataChange = 0,
  ckRefresh = 1,
  ckRead = 2,
  ckWrite = 3,
  ckCancel = 4,
};

// The process-wide sequence of cancel IDs: 0, 1, 2 ... one per callback.
uint32_t NextCancelID();

// One queued reply or one data change; owned by its group while queued.
class TOPCCallback {
 public:
  TOPCCallback(TOPCGroup* group, uint32_t cancelID) : FGroup(group), FCancelID(cancelID) {}
  TOPCCallback(const TOPCCallback&) = delete;
  TOPCCallback& operator=(const TOPCCallback&) = delete;

  void SetItems(TItemRefs items);
  // Fresh values for every item of a device request, or no need to wait.
  bool IsReady() const;
  // Sends the reply (or only traces it when cancelled or without a sink).
  void Fire();

  TOPCGroup* FGroup;  // the owner
  uint8_t FKind = ckDataChange;
  uint32_t FTransactionID = 0;
  uint32_t FCancelID;
  TDateTime FCreated = 0;
  uint32_t FSource = 0;
  bool FNoWait = false;
  bool FCancelled = false;
  TItemRefs FItemList;
  uint32_t FCount = 0;

 private:
  void FireDataOrRead();
  void FireWriteComplete();
  void FireCancelComplete();
};

// The group's IOPCDataCallback point. Several connections are accepted;
// each connect and disconnect is reported to the group, which keeps the
// sink of the latest connect as the one it calls.
class TDataCallbackPoint final : public IConnectionPoint {
 public:
  explicit TDataCallbackPoint(TOPCGroup* group);

  // Reference counting is the group's: the point is part of it.
  HRESULT QueryInterface(const IID& iid, void** out) override;
  uint32_t AddRef() override;
  uint32_t Release() override;

  HRESULT GetConnectionInterface(IID* iid) override { return inner_.GetConnectionInterface(iid); }
  HRESULT GetConnectionPointContainer(IConnectionPointContainer** out) override {
    return inner_.GetConnectionPointContainer(out);
  }
  HRESULT Advise(IUnknown* sink, uint32_t* cookie) override;
  HRESULT Unadvise(uint32_t cookie) override;
  HRESULT EnumConnections(IEnumConnections** out) override { return inner_.EnumConnections(out); }

  void DisconnectAll() { inner_.DisconnectAll(); }
  // A one-entry IEnumConnectionPoints over this point.
  HRESULT Enumerate(IEnumConnectionPoints** out);

 private:
  TOPCGroup* group_;  // the owner
  TConnectionPoint inner_;
};
