// The properties of single items, looked up in the address space at every
// call.
#pragma once

#include <cstdint>

#include "platform/variant.h"

class TNorvoVar;

// One listed property.
struct TItemPropertyInfo {
  uint32_t id;
  const char* description;
};

// What QueryAvailableProperties lists, in order.
inline constexpr TItemPropertyInfo kItemProperties[] = {
    {1, "Item Canonical DataType"},
    {2, "Item Value"},
    {5, "Item Access Rights"},
    {101, "Item comment/description"},
    {5000, "Item value copy"},
};

// The VARIANT type a listed property names for the tag.
VARTYPE ListedPropertyType(const TNorvoVar& tag, uint32_t id);
// The property's value into *out (initialised by the caller); false for an
// unknown ID, which leaves the 4-byte integer 0.
bool GetItemProperty(TNorvoVar& tag, uint32_t id, VARIANT* out);
