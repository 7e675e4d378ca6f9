// The root interface of the COM-style object runtime.
#pragma once

#include <cstdint>

#include "platform/guid.h"
#include "platform/hresult.h"

// {00000000-0000-0000-C000-000000000046}
constexpr IID IID_IUnknown{0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

struct IUnknown {
  virtual HRESULT QueryInterface(const IID& iid, void** out) = 0;
  virtual uint32_t AddRef() = 0;
  virtual uint32_t Release() = 0;

 protected:
  ~IUnknown() = default;
};

// Marker for automation objects; the server exposes no IDispatch methods of
// its own beyond what VARIANTs may carry.
struct IDispatch : IUnknown {
 protected:
  ~IDispatch() = default;
};
