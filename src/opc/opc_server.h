// The server object: one client session with its name, locale, groups and
// shutdown sink.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "opc/browse_object.h"
#include "opc/handle_table.h"
#include "opc/opc_da.h"
#include "platform/connection_point.h"

class TOPCGroup;
class TOPCServerCollection;
struct TOPCEnvironment;

class TDA2 final : public ComObject<IOPCServer, IOPCCommon, IConnectionPointContainer, IOPCBrowseServerAddressSpace,
                                   IOPCItemProperties> {
 public:
  static constexpr const char* kDefaultClientName = "Client name unknown";
  static constexpr const char* kVendorInfo = "NorvoOPC Data Access Server";

  // Lists itself in the collection, which must outlive it or detach it.
  explicit TDA2(TOPCServerCollection* collection);
  ~TDA2() override;

  // IOPCServer
  HRESULT AddGroup(const OLECHAR* name, int32_t active, uint32_t requestedUpdateRate, OPCHANDLE clientGroup,
                   int32_t* timeBias, float* percentDeadband, LCID lcid, OPCHANDLE* serverGroup,
                   uint32_t* revisedUpdateRate, const IID& iid, IUnknown** group) override;
  HRESULT GetErrorString(HRESULT error, LCID locale, OLECHAR** text) override;
  HRESULT GetGroupByName(const OLECHAR* name, const IID& iid, IUnknown** group) override;
  HRESULT GetStatus(OPCSERVERSTATUS** status) override;
  HRESULT RemoveGroup(OPCHANDLE serverGroup, int32_t force) override;
  HRESULT CreateGroupEnumerator(OPCENUMSCOPE scope, const IID& iid, IUnknown** enumerator) override;

  // IOPCCommon
  HRESULT SetLocaleID(LCID lcid) override;
  HRESULT GetLocaleID(LCID* lcid) override;
  HRESULT QueryAvailableLocaleIDs(uint32_t* count, LCID** lcids) override;
  HRESULT GetErrorString(HRESULT error, OLECHAR** text) override;
  HRESULT SetClientName(const OLECHAR* name) override;

  // IConnectionPointContainer
  HRESULT EnumConnectionPoints(IEnumConnectionPoints** out) override;
  HRESULT FindConnectionPoint(const IID& iid, IConnectionPoint** out) override;

  // IOPCBrowseServerAddressSpace
  HRESULT QueryOrganization(OPCNAMESPACETYPE* nameSpaceType) override;
  HRESULT ChangeBrowsePosition(OPCBROWSEDIRECTION direction, const OLECHAR* name) override;
  HRESULT BrowseOPCItemIDs(OPCBROWSETYPE browseFilterType, const OLECHAR* filterCriteria, VARTYPE dataTypeFilter,
                           uint32_t accessRightsFilter, IEnumString** enumerator) override;
  HRESULT GetItemID(OLECHAR* itemDataID, OLECHAR** itemID) override;
  HRESULT BrowseAccessPaths(const OLECHAR* itemID, IEnumString** enumerator) override;

  // IOPCItemProperties
  HRESULT QueryAvailableProperties(OLECHAR* itemID, uint32_t* count, uint32_t** propertyIDs,
                                   OLECHAR*** descriptions, VARTYPE** dataTypes) override;
  HRESULT GetItemProperties(OLECHAR* itemID, uint32_t count, uint32_t* propertyIDs, VARIANT** data,
                            HRESULT** errors) override;
  HRESULT LookupItemIDs(OLECHAR* itemID, uint32_t count, uint32_t* propertyIDs, OLECHAR*** newItemIDs,
                        HRESULT** errors) override;

  // Asks the client's shutdown sink to disconnect; S_OK without a sink,
  // else what the sink answered.
  HRESULT SendShutdownRequest(const std::string& reason);
  // First listed group with exactly that name, or null.
  TOPCGroup* FindGroup(const std::string& name) const;
  // Drops from the list the removed groups that the client no longer
  // holds more than once.
  void PurgeDeletedGroups();
  // A new group listed under a fresh handle, holding this server.
  ComPtr<TOPCGroup> NewGroup();
  // Called by a group's destructor.
  void GroupDestroyed(TOPCGroup* group);
  TOPCGroup* FindGroupByHandle(OPCHANDLE handle) const { return FGroupHandles.Find(handle); }
  const std::vector<TOPCGroup*>& Groups() const { return FGroups; }

  // The services of the collection; neutral ones once it is gone.
  const TOPCEnvironment& Env() const;
  TOPCServerCollection* Collection() const { return FCollection; }
  // The collection is going away before this object.
  void Detach() { FCollection = nullptr; }
  // Session log entry (important), with the current time filled in where
  // the text says so.
  void SessionWrite(const std::string& text) const;
  std::string NowText() const;

  std::string FClientName = kDefaultClientName;
  LCID FLocaleID = LOCALE_SYSTEM_DEFAULT;
  TBrowseObject FBrowse;

 protected:
  void* QueryExtraInterface(const IID& iid) override;

 private:
  void RemoveFromList(TOPCGroup* group);

  TOPCServerCollection* FCollection;  // not owned; detaches us when it goes first
  std::vector<TOPCGroup*> FGroups;    // not owned: a group lives while its client holds it
  THandleTable<TOPCGroup> FGroupHandles;
  TConnectionPoints FConnectionPoints;
  TConnectionPoint* FShutdownPoint;  // owned by FConnectionPoints
};
