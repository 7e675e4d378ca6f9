// Data transfer objects of the DA 1.0a streams: IDataObject with FORMATETC
// and STGMEDIUM, the client's IAdviseSink, movable global memory blocks and
// registered clipboard formats.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/com_object.h"
#include "platform/variant.h"

using CLIPFORMAT = uint16_t;

// A movable memory block handed to a client inside a STGMEDIUM. Only the
// functions below touch it.
struct GlobalBlock;
using HGLOBAL = GlobalBlock*;

constexpr uint32_t GMEM_FIXED = 0x0000;
constexpr uint32_t GMEM_MOVEABLE = 0x0002;
constexpr uint32_t GMEM_ZEROINIT = 0x0040;

// Null when out of memory. The block's bytes are zeroed whatever the flags.
HGLOBAL GlobalAlloc(uint32_t flags, size_t bytes);
// Null when the handle is null. Locks nest; the address stays the same.
void* GlobalLock(HGLOBAL block);
// True while the block is still locked after this unlock.
bool GlobalUnlock(HGLOBAL block);
size_t GlobalSize(HGLOBAL block);
// Gives null on success (the block is gone) and the handle back otherwise.
HGLOBAL GlobalFree(HGLOBAL block);
// Blocks allocated and not yet freed, for leak checks.
int64_t GlobalLiveBlocks();

// The same name always gives the same number (0xC000 and up); 0 for "".
CLIPFORMAT RegisterClipboardFormat(const std::string& name);
// "" for a number that no name was registered under.
std::string GetClipboardFormatName(CLIPFORMAT format);

struct DVTARGETDEVICE;
struct IMoniker;
struct IStream;
struct IStorage;
struct IEnumFORMATETC;
struct IEnumSTATDATA;

enum DVASPECT : uint32_t {
  DVASPECT_CONTENT = 1,
  DVASPECT_THUMBNAIL = 2,
  DVASPECT_ICON = 4,
  DVASPECT_DOCPRINT = 8,
};

enum TYMED : uint32_t {
  TYMED_NULL = 0,
  TYMED_HGLOBAL = 1,
  TYMED_FILE = 2,
  TYMED_ISTREAM = 4,
  TYMED_ISTORAGE = 8,
  TYMED_GDI = 16,
  TYMED_MFPICT = 32,
  TYMED_ENHMF = 64,
};

enum ADVF : uint32_t {
  ADVF_NODATA = 1,
  ADVF_PRIMEFIRST = 2,
  ADVF_ONLYONCE = 4,
  ADVFCACHE_NOHANDLER = 8,
  ADVFCACHE_FORCEBUILTIN = 16,
  ADVFCACHE_ONSAVE = 32,
  ADVF_DATAONSTOP = 64,
};

enum DATADIR : uint32_t {
  DATADIR_GET = 1,
  DATADIR_SET = 2,
};

struct FORMATETC {
  CLIPFORMAT cfFormat;
  DVTARGETDEVICE* ptd;
  uint32_t dwAspect;
  int32_t lindex;
  uint32_t tymed;
};

struct STGMEDIUM {
  uint32_t tymed;
  union {
    HGLOBAL hGlobal;
    IStream* pstm;
    IStorage* pstg;
    char16_t* lpszFileName;
  };
  IUnknown* pUnkForRelease;  // null: the receiver frees the medium itself
};

static_assert(sizeof(void*) != 8 || (sizeof(FORMATETC) == 32 && offsetof(FORMATETC, ptd) == 8 &&
                                     offsetof(FORMATETC, dwAspect) == 16 && offsetof(FORMATETC, lindex) == 20 &&
                                     offsetof(FORMATETC, tymed) == 24));
static_assert(sizeof(void*) != 8 ||
              (sizeof(STGMEDIUM) == 24 && offsetof(STGMEDIUM, hGlobal) == 8 && offsetof(STGMEDIUM, pUnkForRelease) == 16));

// Frees what a medium holds (the block of a TYMED_HGLOBAL medium, or the
// release object's reference) and empties it.
void ReleaseStgMedium(STGMEDIUM* medium);

// {0000010E-0000-0000-C000-000000000046}
constexpr IID IID_IDataObject{0x0000010E, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// {0000010F-0000-0000-C000-000000000046}
constexpr IID IID_IAdviseSink{0x0000010F, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// {00000103-0000-0000-C000-000000000046}
constexpr IID IID_IEnumFORMATETC{0x00000103, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// {00000105-0000-0000-C000-000000000046}
constexpr IID IID_IEnumSTATDATA{0x00000105, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// The client's sink of a DA 1.0a stream. The caller owns every argument.
struct IAdviseSink : IUnknown {
  virtual void OnDataChange(FORMATETC* format, STGMEDIUM* medium) = 0;
  virtual void OnViewChange(uint32_t aspect, int32_t lindex) = 0;
  virtual void OnRename(IMoniker* moniker) = 0;
  virtual void OnSave() = 0;
  virtual void OnClose() = 0;

 protected:
  ~IAdviseSink() = default;
};

struct IDataObject : IUnknown {
  virtual HRESULT GetData(FORMATETC* formatIn, STGMEDIUM* medium) = 0;
  virtual HRESULT GetDataHere(FORMATETC* format, STGMEDIUM* medium) = 0;
  virtual HRESULT QueryGetData(FORMATETC* format) = 0;
  virtual HRESULT GetCanonicalFormatEtc(FORMATETC* formatIn, FORMATETC* formatOut) = 0;
  virtual HRESULT SetData(FORMATETC* format, STGMEDIUM* medium, int32_t release) = 0;
  virtual HRESULT EnumFormatEtc(uint32_t direction, IEnumFORMATETC** out) = 0;
  // The object keeps a reference on the sink until DUnadvise.
  virtual HRESULT DAdvise(FORMATETC* format, uint32_t advf, IAdviseSink* sink, uint32_t* connection) = 0;
  virtual HRESULT DUnadvise(uint32_t connection) = 0;
  virtual HRESULT EnumDAdvise(IEnumSTATDATA** out) = 0;

 protected:
  ~IDataObject() = default;
};

NORVO_COM_IID(IDataObject, IID_IDataObject);
NORVO_COM_IID(IAdviseSink, IID_IAdviseSink);
