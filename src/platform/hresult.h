// Result codes of the COM-style runtime, with their standard numeric values.
#pragma once

#include <cstdint>

using HRESULT = int32_t;

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

// Builds a code from its unsigned 32-bit spelling.
constexpr HRESULT MakeHResult(uint32_t value) { return static_cast<HRESULT>(value); }

// Wraps a Win32 error code the way HRESULT_FROM_WIN32 does.
constexpr HRESULT HResultFromWin32(uint32_t code) {
  return code == 0 ? 0 : static_cast<HRESULT>((code & 0x0000FFFFu) | (7u << 16) | 0x80000000u);
}

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = MakeHResult(0x80004001);
constexpr HRESULT E_NOINTERFACE = MakeHResult(0x80004002);
constexpr HRESULT E_POINTER = MakeHResult(0x80004003);
constexpr HRESULT E_ABORT = MakeHResult(0x80004004);
constexpr HRESULT E_FAIL = MakeHResult(0x80004005);
constexpr HRESULT E_UNEXPECTED = MakeHResult(0x8000FFFF);
constexpr HRESULT E_ACCESSDENIED = MakeHResult(0x80070005);
constexpr HRESULT E_HANDLE = MakeHResult(0x80070006);
constexpr HRESULT E_OUTOFMEMORY = MakeHResult(0x8007000E);
constexpr HRESULT E_INVALIDARG = MakeHResult(0x80070057);

constexpr HRESULT CONNECT_E_NOCONNECTION = MakeHResult(0x80040200);
constexpr HRESULT CONNECT_E_ADVISELIMIT = MakeHResult(0x80040201);
constexpr HRESULT CONNECT_E_CANNOTCONNECT = MakeHResult(0x80040202);
constexpr HRESULT CONNECT_E_OVERRIDDEN = MakeHResult(0x80040203);
constexpr HRESULT OLE_E_ADVISENOTSUPPORTED = MakeHResult(0x80040003);
constexpr HRESULT OLE_E_NOCONNECTION = MakeHResult(0x80040004);
constexpr HRESULT DV_E_FORMATETC = MakeHResult(0x80040064);
constexpr HRESULT DV_E_LINDEX = MakeHResult(0x80040068);
constexpr HRESULT DV_E_TYMED = MakeHResult(0x80040069);
constexpr HRESULT DV_E_DVASPECT = MakeHResult(0x8004006B);
constexpr HRESULT CLASS_E_NOAGGREGATION = MakeHResult(0x80040110);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = MakeHResult(0x80040111);
constexpr HRESULT REGDB_E_CLASSNOTREG = MakeHResult(0x80040154);
constexpr HRESULT CO_E_CLASSSTRING = MakeHResult(0x800401F3);

constexpr HRESULT DISP_E_TYPEMISMATCH = MakeHResult(0x80020005);
constexpr HRESULT DISP_E_BADVARTYPE = MakeHResult(0x80020008);
constexpr HRESULT DISP_E_OVERFLOW = MakeHResult(0x8002000A);
constexpr HRESULT DISP_E_BADINDEX = MakeHResult(0x8002000B);
constexpr HRESULT DISP_E_ARRAYISLOCKED = MakeHResult(0x8002000D);

// Win32 error 1781 (RPC_X_ENUM_VALUE_OUT_OF_RANGE), returned as a bare number
// by enumerators whose caller asked for more than one element without a
// count pointer.
constexpr HRESULT RPC_X_ENUM_VALUE_OUT_OF_RANGE = 1781;

constexpr HRESULT OPC_E_INVALIDHANDLE = MakeHResult(0xC0040001);
constexpr HRESULT OPC_E_BADTYPE = MakeHResult(0xC0040004);
constexpr HRESULT OPC_E_PUBLIC = MakeHResult(0xC0040005);
constexpr HRESULT OPC_E_BADRIGHTS = MakeHResult(0xC0040006);
constexpr HRESULT OPC_E_UNKNOWNITEMID = MakeHResult(0xC0040007);
constexpr HRESULT OPC_E_INVALIDITEMID = MakeHResult(0xC0040008);
constexpr HRESULT OPC_E_INVALIDFILTER = MakeHResult(0xC0040009);
constexpr HRESULT OPC_E_UNKNOWNPATH = MakeHResult(0xC004000A);
constexpr HRESULT OPC_E_RANGE = MakeHResult(0xC004000B);
constexpr HRESULT OPC_E_DUPLICATENAME = MakeHResult(0xC004000C);
constexpr HRESULT OPC_S_UNSUPPORTEDRATE = MakeHResult(0x0004000D);
constexpr HRESULT OPC_S_CLAMP = MakeHResult(0x0004000E);
constexpr HRESULT OPC_S_INUSE = MakeHResult(0x0004000F);
constexpr HRESULT OPC_E_INVALIDCONFIGFILE = MakeHResult(0xC0040010);
constexpr HRESULT OPC_E_NOTFOUND = MakeHResult(0xC0040011);
constexpr HRESULT OPC_E_INVALID_PID = MakeHResult(0xC0040203);
constexpr HRESULT OPC_S_ALREADYACKED = MakeHResult(0x00040200);
constexpr HRESULT OPC_S_INVALIDBUFFERTIME = MakeHResult(0x00040201);
constexpr HRESULT OPC_S_INVALIDMAXSIZE = MakeHResult(0x00040202);
constexpr HRESULT OPC_E_INVALIDTIME = MakeHResult(0xC0040204);
constexpr HRESULT OPC_E_BUSY = MakeHResult(0xC0040205);
constexpr HRESULT OPC_E_NOINFO = MakeHResult(0xC0040206);
