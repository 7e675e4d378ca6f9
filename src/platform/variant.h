// VARIANT, BSTR and SAFEARRAY: the automation value types of the COM-style
// runtime. Layouts follow the binary shapes clients expect; VARIANT is 16
// bytes on every platform so the sizes of the DA 1.0a streams hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/hresult.h"
#include "platform/unknown.h"

using VARTYPE = uint16_t;
using VARIANT_BOOL = int16_t;
using OLECHAR = char16_t;
using BSTR = OLECHAR*;  // length-prefixed UTF-16; allocate with SysAllocString*
using DATE = double;    // days since 1899-12-30, local time
using SCODE = int32_t;
using LCID = uint32_t;

constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;
constexpr LCID LOCALE_USER_DEFAULT = 0x0400;
constexpr LCID LOCALE_EN_US = 0x0409;
// Other locales whose number, date and boolean texts the coercions know.
// Any other LCID is treated as en-US.
constexpr LCID LOCALE_DE_DE = 0x0407;
constexpr LCID LOCALE_FR_FR = 0x040C;
constexpr LCID LOCALE_ES_ES = 0x0C0A;

enum : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_DECIMAL = 14,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
  VT_VOID = 24,
  VT_RECORD = 36,
  VT_CLSID = 72,
  VT_VECTOR = 0x1000,
  VT_ARRAY = 0x2000,
  VT_BYREF = 0x4000,
  VT_RESERVED = 0x8000,
  VT_TYPEMASK = 0x0FFF,
};

// VariantChangeType flags.
constexpr uint16_t VARIANT_NOVALUEPROP = 0x01;
constexpr uint16_t VARIANT_ALPHABOOL = 0x02;
constexpr uint16_t VARIANT_NOUSEROVERRIDE = 0x04;
constexpr uint16_t VARIANT_CALENDAR_HIJRI = 0x08;
constexpr uint16_t VARIANT_LOCALBOOL = 0x10;
constexpr uint16_t VARIANT_CALENDAR_THAI = 0x20;
constexpr uint16_t VARIANT_CALENDAR_GREGORIAN = 0x40;
constexpr uint16_t VARIANT_USE_NLS = 0x80;

struct CY {
  int64_t int64;  // value x 10000
};

struct DECIMAL {
  uint16_t wReserved;  // overlays VARIANT::vt
  uint8_t scale;
  uint8_t sign;  // 0 or 0x80
  uint32_t Hi32;
  uint64_t Lo64;
};

struct SAFEARRAY;
struct VARIANT;

struct VARIANT {
  union {
    struct {
      VARTYPE vt;
      uint16_t wReserved1;
      uint16_t wReserved2;
      uint16_t wReserved3;
      union {
        int64_t llVal;
        uint64_t ullVal;
        int32_t lVal;
        uint32_t ulVal;
        int32_t intVal;
        uint32_t uintVal;
        int16_t iVal;
        uint16_t uiVal;
        int8_t cVal;
        uint8_t bVal;
        float fltVal;
        double dblVal;
        VARIANT_BOOL boolVal;
        SCODE scode;
        CY cyVal;
        DATE date;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        SAFEARRAY* parray;
        void* byref;
        uint8_t* pbVal;
        int16_t* piVal;
        int32_t* plVal;
        float* pfltVal;
        double* pdblVal;
        VARIANT_BOOL* pboolVal;
        BSTR* pbstrVal;
        VARIANT* pvarVal;
        DECIMAL* pdecVal;
      };
    };
    DECIMAL decVal;
  };
};
static_assert(sizeof(VARIANT) == 16, "VARIANT must be 16 bytes");
using VARIANTARG = VARIANT;

// ---- Task allocator -------------------------------------------------------
// Every block handed across the client boundary comes from here; BSTRs and
// SAFEARRAYs use it too, so one live-block count proves nothing leaks.
void* CoTaskMemAlloc(size_t size);
void* CoTaskMemRealloc(void* block, size_t size);
void CoTaskMemFree(void* block);
// Number of blocks allocated and not yet freed, process-wide.
int64_t CoTaskMemLiveBlocks();

// ---- BSTR -----------------------------------------------------------------
BSTR SysAllocString(const OLECHAR* text);                 // null gives null
BSTR SysAllocStringLen(const OLECHAR* text, uint32_t len);  // text may be null
// A BSTR of exactly `bytes` bytes (odd counts allowed); data may be null.
BSTR SysAllocStringByteLen(const char* data, uint32_t bytes);
void SysFreeString(BSTR s);                               // null is fine
uint32_t SysStringLen(BSTR s);                            // characters; null gives 0
uint32_t SysStringByteLen(BSTR s);

// Our 8-bit strings are UTF-8. Invalid sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);
std::string BstrToUtf8(BSTR s);                  // null gives ""
BSTR Utf8ToBstr(std::string_view text);          // never null for valid memory
std::u16string_view OleView(const OLECHAR* s);   // null gives an empty view

// ---- VARIANT --------------------------------------------------------------
void VariantInit(VARIANT* v);
HRESULT VariantClear(VARIANT* v);
HRESULT VariantCopy(VARIANT* dst, const VARIANT* src);
// Follows the OLE coercion rules; dst may equal src.
HRESULT VariantChangeType(VARIANT* dst, const VARIANT* src, uint16_t flags, VARTYPE vt);
HRESULT VariantChangeTypeEx(VARIANT* dst, const VARIANT* src, LCID lcid, uint16_t flags, VARTYPE vt);

// ---- SAFEARRAY (one dimension is what the server uses) --------------------
struct SAFEARRAYBOUND {
  uint32_t cElements;
  int32_t lLbound;
};

struct SAFEARRAY {
  uint16_t cDims;
  uint16_t fFeatures;
  uint32_t cbElements;
  uint32_t cLocks;
  void* pvData;
  SAFEARRAYBOUND rgsabound[1];
};

constexpr uint16_t FADF_BSTR = 0x0100;
constexpr uint16_t FADF_UNKNOWN = 0x0200;
constexpr uint16_t FADF_DISPATCH = 0x0400;
constexpr uint16_t FADF_VARIANT = 0x0800;
constexpr uint16_t FADF_HAVEVARTYPE = 0x0080;

// Element types: VT_BOOL, VT_I1, VT_UI1, VT_I2, VT_UI2, VT_I4, VT_UI4,
// VT_R4, VT_R8, VT_DATE, VT_CY, VT_BSTR, VT_VARIANT, VT_ERROR, VT_I8, VT_UI8.
SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, int32_t lowerBound, uint32_t elements);
SAFEARRAY* SafeArrayCreate(VARTYPE vt, uint32_t dims, const SAFEARRAYBOUND* bounds);
HRESULT SafeArrayDestroy(SAFEARRAY* sa);
HRESULT SafeArrayCopy(const SAFEARRAY* src, SAFEARRAY** dst);
// Changes the last dimension's bound: grows with zeroed elements, cuts with
// the cut elements released.
HRESULT SafeArrayRedim(SAFEARRAY* sa, const SAFEARRAYBOUND* newBound);
uint32_t SafeArrayGetDim(const SAFEARRAY* sa);
uint32_t SafeArrayGetElemsize(const SAFEARRAY* sa);
HRESULT SafeArrayGetVartype(const SAFEARRAY* sa, VARTYPE* vt);
HRESULT SafeArrayGetLBound(const SAFEARRAY* sa, uint32_t dim, int32_t* bound);
HRESULT SafeArrayGetUBound(const SAFEARRAY* sa, uint32_t dim, int32_t* bound);
// Get copies out (a BSTR or VARIANT element is duplicated); Put copies in.
// As in OLE, `in` is the BSTR or interface pointer itself for arrays of
// those, and a pointer to the element for every other type; `out` always
// points to an element-sized variable, which is overwritten, not cleared.
// Indices are given in the order of the bounds passed to SafeArrayCreate.
HRESULT SafeArrayGetElement(const SAFEARRAY* sa, const int32_t* indices, void* out);
HRESULT SafeArrayPutElement(SAFEARRAY* sa, const int32_t* indices, const void* in);
HRESULT SafeArrayAccessData(SAFEARRAY* sa, void** data);
HRESULT SafeArrayUnaccessData(SAFEARRAY* sa);

// ---- RAII owners ----------------------------------------------------------
// Owns one VARIANT and clears it on destruction.
class ComVariant {
 public:
  ComVariant() { VariantInit(&v_); }
  ComVariant(const ComVariant& other);
  ComVariant(ComVariant&& other) noexcept;
  ComVariant& operator=(const ComVariant& other);
  ComVariant& operator=(ComVariant&& other) noexcept;
  ~ComVariant() { VariantClear(&v_); }

  static ComVariant FromI4(int32_t value);
  static ComVariant FromR8(double value);
  static ComVariant FromBool(bool value);
  static ComVariant FromString(std::string_view utf8);

  VARIANT* get() { return &v_; }
  const VARIANT* get() const { return &v_; }
  VARIANT* operator->() { return &v_; }
  const VARIANT* operator->() const { return &v_; }
  // Gives up ownership: the caller must clear the returned value.
  VARIANT Detach();

 private:
  VARIANT v_;
};

// Owns one BSTR.
class ComBstr {
 public:
  ComBstr() = default;
  explicit ComBstr(std::string_view utf8) : s_(Utf8ToBstr(utf8)) {}
  ComBstr(const ComBstr&) = delete;
  ComBstr& operator=(const ComBstr&) = delete;
  ComBstr(ComBstr&& other) noexcept : s_(other.s_) { other.s_ = nullptr; }
  ComBstr& operator=(ComBstr&& other) noexcept;
  ~ComBstr() { SysFreeString(s_); }

  BSTR get() const { return s_; }
  BSTR* out() { SysFreeString(s_); s_ = nullptr; return &s_; }
  BSTR Detach() { BSTR s = s_; s_ = nullptr; return s; }
  std::string Utf8() const { return BstrToUtf8(s_); }

 private:
  BSTR s_ = nullptr;
};
