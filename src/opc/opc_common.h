// OPC Common interfaces: locale and error text per client, and the client's
// shutdown sink.
#pragma once

#include <cstdint>

#include "platform/com_object.h"
#include "platform/variant.h"

// {F31DFDE2-07B6-11D2-B2D8-0060083BA1FB}
constexpr IID IID_IOPCCommon{0xF31DFDE2, 0x07B6, 0x11D2, {0xB2, 0xD8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB}};
// {F31DFDE1-07B6-11D2-B2D8-0060083BA1FB}
constexpr IID IID_IOPCShutdown{0xF31DFDE1, 0x07B6, 0x11D2, {0xB2, 0xD8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB}};
// Type library of OPC Common: {B28EEDB1-AC6F-11D1-84D5-00608CB8A7E9}
constexpr GUID LIBID_OPCCOMN{0xB28EEDB1, 0xAC6F, 0x11D1, {0x84, 0xD5, 0x00, 0x60, 0x8C, 0xB8, 0xA7, 0xE9}};

struct IOPCCommon : IUnknown {
  virtual HRESULT SetLocaleID(LCID lcid) = 0;
  virtual HRESULT GetLocaleID(LCID* lcid) = 0;
  // The array comes from the task allocator; the client frees it.
  virtual HRESULT QueryAvailableLocaleIDs(uint32_t* count, LCID** lcids) = 0;
  // The string comes from the task allocator; the client frees it.
  virtual HRESULT GetErrorString(HRESULT error, OLECHAR** text) = 0;
  virtual HRESULT SetClientName(const OLECHAR* name) = 0;

 protected:
  ~IOPCCommon() = default;
};

// Implemented by the client; the server owns the reason text.
struct IOPCShutdown : IUnknown {
  virtual HRESULT ShutdownRequest(const OLECHAR* reason) = 0;

 protected:
  ~IOPCShutdown() = default;
};

NORVO_COM_IID(IOPCCommon, IID_IOPCCommon);
NORVO_COM_IID(IOPCShutdown, IID_IOPCShutdown);
