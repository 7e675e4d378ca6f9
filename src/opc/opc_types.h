// OPC Data Access structures, enumerations and constants (DA 2.05 and 1.0a).
// Layouts follow the binary shapes OPC clients use; VARIANT is our 16-byte
// form, so structures holding one are 8 bytes shorter than on 64-bit Windows.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/date_time.h"
#include "platform/guid.h"
#include "platform/hresult.h"
#include "platform/variant.h"

using OPCHANDLE = uint32_t;

enum OPCDATASOURCE : int32_t { OPC_DS_CACHE = 1, OPC_DS_DEVICE = 2 };

enum OPCSERVERSTATE : int32_t {
  OPC_STATUS_RUNNING = 1,
  OPC_STATUS_FAILED = 2,
  OPC_STATUS_NOCONFIG = 3,
  OPC_STATUS_SUSPENDED = 4,
  OPC_STATUS_TEST = 5,
};

enum OPCENUMSCOPE : int32_t {
  OPC_ENUM_PRIVATE_CONNECTIONS = 1,
  OPC_ENUM_PUBLIC_CONNECTIONS = 2,
  OPC_ENUM_ALL_CONNECTIONS = 3,
  OPC_ENUM_PRIVATE = 4,
  OPC_ENUM_PUBLIC = 5,
  OPC_ENUM_ALL = 6,
};

enum OPCNAMESPACETYPE : int32_t { OPC_NS_HIERARCHIAL = 1, OPC_NS_FLAT = 2 };

enum OPCBROWSEDIRECTION : int32_t { OPC_BROWSE_UP = 1, OPC_BROWSE_DOWN = 2, OPC_BROWSE_TO = 3 };

enum OPCBROWSETYPE : int32_t { OPC_BRANCH = 1, OPC_LEAF = 2, OPC_FLAT = 3 };

enum OPCEUTYPE : int32_t { OPC_NOENUM = 0, OPC_ANALOG = 1, OPC_ENUMERATED = 2 };

// Access rights bit mask.
constexpr uint32_t OPC_READABLE = 0x1;
constexpr uint32_t OPC_WRITEABLE = 0x2;

// Quality word: bits 7-6 quality, 5-2 substatus, 1-0 limit.
constexpr uint16_t OPC_QUALITY_MASK = 0xC0;
constexpr uint16_t OPC_STATUS_MASK = 0xFC;
constexpr uint16_t OPC_LIMIT_MASK = 0x03;

constexpr uint16_t OPC_QUALITY_BAD = 0x00;
constexpr uint16_t OPC_QUALITY_CONFIG_ERROR = 0x04;
constexpr uint16_t OPC_QUALITY_NOT_CONNECTED = 0x08;
constexpr uint16_t OPC_QUALITY_DEVICE_FAILURE = 0x0C;
constexpr uint16_t OPC_QUALITY_SENSOR_FAILURE = 0x10;
constexpr uint16_t OPC_QUALITY_LAST_KNOWN = 0x14;
constexpr uint16_t OPC_QUALITY_COMM_FAILURE = 0x18;
constexpr uint16_t OPC_QUALITY_OUT_OF_SERVICE = 0x1C;
constexpr uint16_t OPC_QUALITY_UNCERTAIN = 0x40;
constexpr uint16_t OPC_QUALITY_LAST_USABLE = 0x44;
constexpr uint16_t OPC_QUALITY_SENSOR_CAL = 0x50;
constexpr uint16_t OPC_QUALITY_EGU_EXCEEDED = 0x54;
constexpr uint16_t OPC_QUALITY_SUB_NORMAL = 0x58;
constexpr uint16_t OPC_QUALITY_GOOD = 0xC0;
constexpr uint16_t OPC_QUALITY_LOCAL_OVERRIDE = 0xD8;

constexpr uint16_t OPC_LIMIT_OK = 0;
constexpr uint16_t OPC_LIMIT_LOW = 1;
constexpr uint16_t OPC_LIMIT_HIGH = 2;
constexpr uint16_t OPC_LIMIT_CONST = 3;

// Item property IDs (1-99 fixed by OPC, 100-4999 recommended).
constexpr uint32_t OPC_PROP_CDT = 1;
constexpr uint32_t OPC_PROP_VALUE = 2;
constexpr uint32_t OPC_PROP_QUALITY = 3;
constexpr uint32_t OPC_PROP_TIME = 4;
constexpr uint32_t OPC_PROP_RIGHTS = 5;
constexpr uint32_t OPC_PROP_SCANRATE = 6;
constexpr uint32_t OPC_PROP_EUTYPE = 7;
constexpr uint32_t OPC_PROP_EUINFO = 8;
constexpr uint32_t OPC_PROP_UNIT = 100;
constexpr uint32_t OPC_PROP_DESC = 101;
constexpr uint32_t OPC_PROP_HIEU = 102;
constexpr uint32_t OPC_PROP_LOEU = 103;
constexpr uint32_t OPC_PROP_HIRANGE = 104;
constexpr uint32_t OPC_PROP_LORANGE = 105;
constexpr uint32_t OPC_PROP_CLOSE = 106;
constexpr uint32_t OPC_PROP_OPEN = 107;
constexpr uint32_t OPC_PROP_TIMEZONE = 108;

// The client's description of an item to add or validate.
struct OPCITEMDEF {
  OLECHAR* szAccessPath;
  OLECHAR* szItemID;
  int32_t bActive;
  OPCHANDLE hClient;
  uint32_t dwBlobSize;
  uint8_t* pBlob;
  VARTYPE vtRequestedDataType;
  uint16_t wReserved;
};

struct OPCITEMRESULT {
  OPCHANDLE hServer;
  VARTYPE vtCanonicalDataType;
  uint16_t wReserved;
  uint32_t dwAccessRights;
  uint32_t dwBlobSize;
  uint8_t* pBlob;  // task allocator; the client frees it
};

struct OPCITEMSTATE {
  OPCHANDLE hClient;
  FILETIME ftTimeStamp;
  uint16_t wQuality;
  uint16_t wReserved;
  VARIANT vDataValue;
};

struct OPCSERVERSTATUS {
  FILETIME ftStartTime;
  FILETIME ftCurrentTime;
  FILETIME ftLastUpdateTime;
  OPCSERVERSTATE dwServerState;
  uint32_t dwGroupCount;
  uint32_t dwBandWidth;
  uint16_t wMajorVersion;
  uint16_t wMinorVersion;
  uint16_t wBuildNumber;
  uint16_t wReserved;
  OLECHAR* szVendorInfo;  // task allocator; the client frees it
};

struct OPCITEMATTRIBUTES {
  OLECHAR* szAccessPath;
  OLECHAR* szItemID;
  int32_t bActive;
  OPCHANDLE hClient;
  OPCHANDLE hServer;
  uint32_t dwAccessRights;
  uint32_t dwBlobSize;
  uint8_t* pBlob;
  VARTYPE vtRequestedDataType;
  VARTYPE vtCanonicalDataType;
  OPCEUTYPE dwEUType;
  VARIANT vEUInfo;
};

// DA 1.0a stream headers: the same on every platform.
struct OPCGROUPHEADER {
  uint32_t dwSize;
  uint32_t dwItemCount;
  OPCHANDLE hClientGroup;
  uint32_t dwTransactionID;
  HRESULT hrStatus;
};

struct OPCITEMHEADER1 {
  OPCHANDLE hClient;
  uint32_t dwValueOffset;
  uint16_t wQuality;
  uint16_t wReserved;
  FILETIME ftTimeStampItem;
};

struct OPCITEMHEADER2 {
  OPCHANDLE hClient;
  uint32_t dwValueOffset;
  uint16_t wQuality;
  uint16_t wReserved;
};

struct OPCGROUPHEADERWRITE {
  uint32_t dwItemCount;
  OPCHANDLE hClientGroup;
  uint32_t dwTransactionID;
  HRESULT hrStatus;
};

struct OPCITEMHEADERWRITE {
  OPCHANDLE hClient;
  HRESULT dwError;
};

// Clipboard format names of the DA 1.0a streams (numbers are assigned at run
// time through RegisterClipboardFormat).
inline constexpr const char* OPCSTMFORMATDATA = "OPCSTMFORMATDATA";
inline constexpr const char* OPCSTMFORMATDATATIME = "OPCSTMFORMATDATATIME";
inline constexpr const char* OPCSTMFORMATWRITECOMPLETE = "OPCSTMFORMATWRITECOMPLETE";

static_assert(sizeof(FILETIME) == 8 && alignof(FILETIME) == 4);
static_assert(sizeof(OPCGROUPHEADER) == 20 && sizeof(OPCITEMHEADER1) == 20 && sizeof(OPCITEMHEADER2) == 12 &&
              sizeof(OPCGROUPHEADERWRITE) == 16 && sizeof(OPCITEMHEADERWRITE) == 8);
static_assert(offsetof(OPCITEMHEADER1, ftTimeStampItem) == 12);
static_assert(offsetof(OPCITEMSTATE, ftTimeStamp) == 4 && offsetof(OPCITEMSTATE, wQuality) == 12 &&
              offsetof(OPCITEMSTATE, vDataValue) == 16 && sizeof(OPCITEMSTATE) == 16 + sizeof(VARIANT));
static_assert(offsetof(OPCSERVERSTATUS, dwServerState) == 24 && offsetof(OPCSERVERSTATUS, wMajorVersion) == 36 &&
              offsetof(OPCSERVERSTATUS, wBuildNumber) == 40);
static_assert(offsetof(OPCITEMRESULT, vtCanonicalDataType) == 4 && offsetof(OPCITEMRESULT, dwAccessRights) == 8 &&
              offsetof(OPCITEMRESULT, dwBlobSize) == 12);
#if UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
static_assert(sizeof(OPCITEMDEF) == 48 && offsetof(OPCITEMDEF, bActive) == 16 && offsetof(OPCITEMDEF, pBlob) == 32 &&
              offsetof(OPCITEMDEF, vtRequestedDataType) == 40);
static_assert(sizeof(OPCITEMRESULT) == 24 && offsetof(OPCITEMRESULT, pBlob) == 16);
static_assert(sizeof(OPCSERVERSTATUS) == 56 && offsetof(OPCSERVERSTATUS, szVendorInfo) == 48);
static_assert(offsetof(OPCITEMATTRIBUTES, bActive) == 16 && offsetof(OPCITEMATTRIBUTES, pBlob) == 40 &&
              offsetof(OPCITEMATTRIBUTES, vtRequestedDataType) == 48 && offsetof(OPCITEMATTRIBUTES, dwEUType) == 52 &&
              offsetof(OPCITEMATTRIBUTES, vEUInfo) == 56 && sizeof(OPCITEMATTRIBUTES) == 56 + sizeof(VARIANT));
#endif
