// OPC Data Access custom interfaces, DA 2.05 with the 1.0a ones kept for old
// clients. Out pointer-to-pointer results come from the task allocator and
// the client frees them; on a failed call every out pointer is null.
#pragma once

#include <cstdint>

#include "opc/opc_common.h"
#include "opc/opc_types.h"
#include "platform/com_enum.h"
#include "platform/com_object.h"
#include "platform/connection_point.h"
#include "platform/data_object.h"

namespace opc_detail {
// The DA interfaces share one GUID tail and differ in the first field.
constexpr IID DaIid(uint32_t first) {
  return IID{first, 0x011E, 0x11D0, {0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8, 0xAD, 0xB3}};
}
}  // namespace opc_detail

constexpr IID IID_IOPCServer = opc_detail::DaIid(0x39C13A4D);
constexpr IID IID_IOPCServerPublicGroups = opc_detail::DaIid(0x39C13A4E);
constexpr IID IID_IOPCBrowseServerAddressSpace = opc_detail::DaIid(0x39C13A4F);
constexpr IID IID_IOPCGroupStateMgt = opc_detail::DaIid(0x39C13A50);
constexpr IID IID_IOPCPublicGroupStateMgt = opc_detail::DaIid(0x39C13A51);
constexpr IID IID_IOPCSyncIO = opc_detail::DaIid(0x39C13A52);
constexpr IID IID_IOPCAsyncIO = opc_detail::DaIid(0x39C13A53);
constexpr IID IID_IOPCItemMgt = opc_detail::DaIid(0x39C13A54);
constexpr IID IID_IEnumOPCItemAttributes = opc_detail::DaIid(0x39C13A55);
constexpr IID IID_IOPCDataCallback = opc_detail::DaIid(0x39C13A70);
constexpr IID IID_IOPCAsyncIO2 = opc_detail::DaIid(0x39C13A71);
constexpr IID IID_IOPCItemProperties = opc_detail::DaIid(0x39C13A72);

// Server categories that OPC browsers enumerate.
// {63D5F430-CFE4-11D1-B2C8-0060083BA1FB}
constexpr CATID CATID_OPCDAServer10{0x63D5F430, 0xCFE4, 0x11D1, {0xB2, 0xC8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB}};
// {63D5F432-CFE4-11D1-B2C8-0060083BA1FB}
constexpr CATID CATID_OPCDAServer20{0x63D5F432, 0xCFE4, 0x11D1, {0xB2, 0xC8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB}};
// Type library of OPC DA 2.0: {B28EEDB2-AC6F-11D1-84D5-00608CB8A7E9}
constexpr GUID LIBID_OPCDA{0xB28EEDB2, 0xAC6F, 0x11D1, {0x84, 0xD5, 0x00, 0x60, 0x8C, 0xB8, 0xA7, 0xE9}};

// ---- Server object -----------------------------------------------------------

struct IOPCServer : IUnknown {
  // name "" lets the server choose one; timeBias and percentDeadband may be
  // null. The group comes back with an added reference.
  virtual HRESULT AddGroup(const OLECHAR* name, int32_t active, uint32_t requestedUpdateRate, OPCHANDLE clientGroup,
                           int32_t* timeBias, float* percentDeadband, LCID lcid, OPCHANDLE* serverGroup,
                           uint32_t* revisedUpdateRate, const IID& iid, IUnknown** group) = 0;
  virtual HRESULT GetErrorString(HRESULT error, LCID locale, OLECHAR** text) = 0;
  virtual HRESULT GetGroupByName(const OLECHAR* name, const IID& iid, IUnknown** group) = 0;
  // The structure and its szVendorInfo come from the task allocator.
  virtual HRESULT GetStatus(OPCSERVERSTATUS** status) = 0;
  virtual HRESULT RemoveGroup(OPCHANDLE serverGroup, int32_t force) = 0;
  // iid: IID_IEnumUnknown (the groups) or IID_IEnumString (their names).
  virtual HRESULT CreateGroupEnumerator(OPCENUMSCOPE scope, const IID& iid, IUnknown** enumerator) = 0;

 protected:
  ~IOPCServer() = default;
};

struct IOPCServerPublicGroups : IUnknown {
  virtual HRESULT GetPublicGroupByName(const OLECHAR* name, const IID& iid, IUnknown** group) = 0;
  virtual HRESULT RemovePublicGroup(OPCHANDLE serverGroup, int32_t force) = 0;

 protected:
  ~IOPCServerPublicGroups() = default;
};

struct IOPCBrowseServerAddressSpace : IUnknown {
  virtual HRESULT QueryOrganization(OPCNAMESPACETYPE* nameSpaceType) = 0;
  virtual HRESULT ChangeBrowsePosition(OPCBROWSEDIRECTION direction, const OLECHAR* name) = 0;
  virtual HRESULT BrowseOPCItemIDs(OPCBROWSETYPE browseFilterType, const OLECHAR* filterCriteria,
                                   VARTYPE dataTypeFilter, uint32_t accessRightsFilter,
                                   IEnumString** enumerator) = 0;
  virtual HRESULT GetItemID(OLECHAR* itemDataID, OLECHAR** itemID) = 0;
  virtual HRESULT BrowseAccessPaths(const OLECHAR* itemID, IEnumString** enumerator) = 0;

 protected:
  ~IOPCBrowseServerAddressSpace() = default;
};

struct IOPCItemProperties : IUnknown {
  // Three parallel arrays of *count; every description string and all three
  // arrays come from the task allocator.
  virtual HRESULT QueryAvailableProperties(OLECHAR* itemID, uint32_t* count, uint32_t** propertyIDs,
                                           OLECHAR*** descriptions, VARTYPE** dataTypes) = 0;
  virtual HRESULT GetItemProperties(OLECHAR* itemID, uint32_t count, uint32_t* propertyIDs, VARIANT** data,
                                    HRESULT** errors) = 0;
  virtual HRESULT LookupItemIDs(OLECHAR* itemID, uint32_t count, uint32_t* propertyIDs, OLECHAR*** newItemIDs,
                                HRESULT** errors) = 0;

 protected:
  ~IOPCItemProperties() = default;
};

// ---- Group object ------------------------------------------------------------

struct IOPCGroupStateMgt : IUnknown {
  virtual HRESULT GetState(uint32_t* updateRate, int32_t* active, OLECHAR** name, int32_t* timeBias,
                           float* percentDeadband, LCID* lcid, OPCHANDLE* clientGroup, OPCHANDLE* serverGroup) = 0;
  // A null in-pointer leaves that field unchanged; the revised rate is
  // always written.
  virtual HRESULT SetState(uint32_t* requestedUpdateRate, uint32_t* revisedUpdateRate, int32_t* active,
                           int32_t* timeBias, float* percentDeadband, LCID* lcid, OPCHANDLE* clientGroup) = 0;
  virtual HRESULT SetName(const OLECHAR* name) = 0;
  virtual HRESULT CloneGroup(const OLECHAR* name, const IID& iid, IUnknown** group) = 0;

 protected:
  ~IOPCGroupStateMgt() = default;
};

struct IOPCPublicGroupStateMgt : IUnknown {
  virtual HRESULT GetState(int32_t* isPublic) = 0;
  virtual HRESULT MoveToPublic() = 0;

 protected:
  ~IOPCPublicGroupStateMgt() = default;
};

struct IEnumOPCItemAttributes : IUnknown {
  // Unlike the standard enumerators the server allocates the array.
  virtual HRESULT Next(uint32_t count, OPCITEMATTRIBUTES** items, uint32_t* fetched) = 0;
  virtual HRESULT Skip(uint32_t count) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumOPCItemAttributes** out) = 0;

 protected:
  ~IEnumOPCItemAttributes() = default;
};

struct IOPCItemMgt : IUnknown {
  virtual HRESULT AddItems(uint32_t count, OPCITEMDEF* items, OPCITEMRESULT** results, HRESULT** errors) = 0;
  virtual HRESULT ValidateItems(uint32_t count, OPCITEMDEF* items, int32_t blobUpdate, OPCITEMRESULT** results,
                                HRESULT** errors) = 0;
  virtual HRESULT RemoveItems(uint32_t count, OPCHANDLE* serverHandles, HRESULT** errors) = 0;
  virtual HRESULT SetActiveState(uint32_t count, OPCHANDLE* serverHandles, int32_t active, HRESULT** errors) = 0;
  virtual HRESULT SetClientHandles(uint32_t count, OPCHANDLE* serverHandles, OPCHANDLE* clientHandles,
                                   HRESULT** errors) = 0;
  virtual HRESULT SetDatatypes(uint32_t count, OPCHANDLE* serverHandles, VARTYPE* requestedDatatypes,
                               HRESULT** errors) = 0;
  virtual HRESULT CreateEnumerator(const IID& iid, IUnknown** enumerator) = 0;

 protected:
  ~IOPCItemMgt() = default;
};

struct IOPCSyncIO : IUnknown {
  virtual HRESULT Read(OPCDATASOURCE source, uint32_t count, OPCHANDLE* serverHandles, OPCITEMSTATE** itemValues,
                       HRESULT** errors) = 0;
  virtual HRESULT Write(uint32_t count, OPCHANDLE* serverHandles, VARIANT* itemValues, HRESULT** errors) = 0;

 protected:
  ~IOPCSyncIO() = default;
};

// Results arrive through IOPCDataCallback; Refresh2 and Cancel2 carry the 2
// so one class can implement this and IOPCAsyncIO.
struct IOPCAsyncIO2 : IUnknown {
  virtual HRESULT Read(uint32_t count, OPCHANDLE* serverHandles, uint32_t transactionID, uint32_t* cancelID,
                       HRESULT** errors) = 0;
  virtual HRESULT Write(uint32_t count, OPCHANDLE* serverHandles, VARIANT* itemValues, uint32_t transactionID,
                        uint32_t* cancelID, HRESULT** errors) = 0;
  virtual HRESULT Refresh2(OPCDATASOURCE source, uint32_t transactionID, uint32_t* cancelID) = 0;
  virtual HRESULT Cancel2(uint32_t cancelID) = 0;
  virtual HRESULT SetEnable(int32_t enable) = 0;
  virtual HRESULT GetEnable(int32_t* enable) = 0;

 protected:
  ~IOPCAsyncIO2() = default;
};

// The DA 1.0a asynchronous interface; results arrive as streams through the
// IAdviseSink that IDataObject::DAdvise registered under `connection`.
struct IOPCAsyncIO : IUnknown {
  virtual HRESULT Read(uint32_t connection, OPCDATASOURCE source, uint32_t count, OPCHANDLE* serverHandles,
                       uint32_t* transactionID, HRESULT** errors) = 0;
  virtual HRESULT Write(uint32_t connection, uint32_t count, OPCHANDLE* serverHandles, VARIANT* itemValues,
                        uint32_t* transactionID, HRESULT** errors) = 0;
  virtual HRESULT Refresh(uint32_t connection, OPCDATASOURCE source, uint32_t* transactionID) = 0;
  virtual HRESULT Cancel(uint32_t transactionID) = 0;

 protected:
  ~IOPCAsyncIO() = default;
};

// ---- Client sink -------------------------------------------------------------

// Implemented by the client. Every argument is the server's; the client
// copies what it keeps.
struct IOPCDataCallback : IUnknown {
  virtual HRESULT OnDataChange(uint32_t transactionID, OPCHANDLE group, HRESULT masterQuality, HRESULT masterError,
                               uint32_t count, OPCHANDLE* clientItems, VARIANT* values, uint16_t* qualities,
                               FILETIME* timeStamps, HRESULT* errors) = 0;
  virtual HRESULT OnReadComplete(uint32_t transactionID, OPCHANDLE group, HRESULT masterQuality,
                                 HRESULT masterError, uint32_t count, OPCHANDLE* clientItems, VARIANT* values,
                                 uint16_t* qualities, FILETIME* timeStamps, HRESULT* errors) = 0;
  virtual HRESULT OnWriteComplete(uint32_t transactionID, OPCHANDLE group, HRESULT masterError, uint32_t count,
                                  OPCHANDLE* clientHandles, HRESULT* errors) = 0;
  virtual HRESULT OnCancelComplete(uint32_t transactionID, OPCHANDLE group) = 0;

 protected:
  ~IOPCDataCallback() = default;
};

NORVO_COM_IID(IOPCServer, IID_IOPCServer);
NORVO_COM_IID(IOPCServerPublicGroups, IID_IOPCServerPublicGroups);
NORVO_COM_IID(IOPCBrowseServerAddressSpace, IID_IOPCBrowseServerAddressSpace);
NORVO_COM_IID(IOPCItemProperties, IID_IOPCItemProperties);
NORVO_COM_IID(IOPCGroupStateMgt, IID_IOPCGroupStateMgt);
NORVO_COM_IID(IOPCPublicGroupStateMgt, IID_IOPCPublicGroupStateMgt);
NORVO_COM_IID(IEnumOPCItemAttributes, IID_IEnumOPCItemAttributes);
NORVO_COM_IID(IOPCItemMgt, IID_IOPCItemMgt);
NORVO_COM_IID(IOPCSyncIO, IID_IOPCSyncIO);
NORVO_COM_IID(IOPCAsyncIO2, IID_IOPCAsyncIO2);
NORVO_COM_IID(IOPCAsyncIO, IID_IOPCAsyncIO);
NORVO_COM_IID(IOPCDataCallback, IID_IOPCDataCallback);
