// Helpers shared by the VARIANT sources; not part of the public runtime.
#pragma once

#include "platform/variant.h"

namespace variant_internal {

// A VT a VARIANT may carry: base 0-23 (not 15) or VT_RECORD, optionally with
// VT_ARRAY and/or VT_BYREF, where an array or reference of EMPTY/NULL is not
// a thing.
inline bool IsValidVartype(VARTYPE vt) {
  if (vt & (VT_VECTOR | VT_RESERVED)) return false;
  const VARTYPE base = vt & VT_TYPEMASK;
  if (base == 15 || (base > VT_UINT && base != VT_RECORD)) return false;
  if ((vt & (VT_ARRAY | VT_BYREF)) && (base == VT_EMPTY || base == VT_NULL)) return false;
  return true;
}

// True when clearing the VARIANT has nothing to release.
inline bool HoldsNothingToRelease(VARTYPE vt) {
  if (vt & VT_BYREF) return true;
  if (vt & VT_ARRAY) return false;
  return vt != VT_BSTR && vt != VT_UNKNOWN && vt != VT_DISPATCH && vt != VT_RECORD;
}

}  // namespace variant_internal
