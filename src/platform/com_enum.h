// The standard enumerator interfaces for object references and strings.
#pragma once

#include <cstdint>

#include "platform/com_object.h"
#include "platform/variant.h"

// {00000100-0000-0000-C000-000000000046}
constexpr IID IID_IEnumUnknown{0x00000100, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// {00000101-0000-0000-C000-000000000046}
constexpr IID IID_IEnumString{0x00000101, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

struct IEnumUnknown : IUnknown {
  // items: the caller's array of count pointers; each handed out with an
  // added reference.
  virtual HRESULT Next(uint32_t count, IUnknown** items, uint32_t* fetched) = 0;
  virtual HRESULT Skip(uint32_t count) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumUnknown** out) = 0;

 protected:
  ~IEnumUnknown() = default;
};

struct IEnumString : IUnknown {
  // items: the caller's array of count pointers; each string comes from the
  // task allocator and the caller frees it.
  virtual HRESULT Next(uint32_t count, OLECHAR** items, uint32_t* fetched) = 0;
  virtual HRESULT Skip(uint32_t count) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumString** out) = 0;

 protected:
  ~IEnumString() = default;
};

NORVO_COM_IID(IEnumUnknown, IID_IEnumUnknown);
NORVO_COM_IID(IEnumString, IID_IEnumString);
