// VARIANT lifetime: init, clear and deep copy.
#include <cstring>

#include "platform/variant.h"
#include "platform/variant_internal.h"

using variant_internal::IsValidVartype;

void VariantInit(VARIANT* v) {
  if (!v) return;
  std::memset(v, 0, sizeof(*v));
}

HRESULT VariantClear(VARIANT* v) {
  if (!v) return E_INVALIDARG;
  const VARTYPE vt = v->vt;
  if (!IsValidVartype(vt)) return DISP_E_BADVARTYPE;
  if (!(vt & VT_BYREF)) {
    if (vt & VT_ARRAY) {
      const HRESULT hr = SafeArrayDestroy(v->parray);
      if (FAILED(hr)) return hr;
    } else if (vt == VT_BSTR) {
      SysFreeString(v->bstrVal);
    } else if (vt == VT_UNKNOWN || vt == VT_DISPATCH) {
      if (v->punkVal) v->punkVal->Release();
    }
  }
  std::memset(v, 0, sizeof(*v));
  return S_OK;
}

HRESULT VariantCopy(VARIANT* dst, const VARIANT* src) {
  if (!dst || !src) return E_INVALIDARG;
  if (dst == src) return S_OK;
  const VARTYPE vt = src->vt;
  if (!IsValidVartype(vt)) return DISP_E_BADVARTYPE;
  // Records need type information this runtime does not carry.
  if ((vt & VT_TYPEMASK) == VT_RECORD && !(vt & VT_BYREF)) return E_NOTIMPL;

  // Build the copy first so a failure leaves the destination as it was.
  VARIANT copy = *src;
  if (!(vt & VT_BYREF)) {
    if (vt & VT_ARRAY) {
      const HRESULT hr = SafeArrayCopy(src->parray, &copy.parray);
      if (FAILED(hr)) return hr;
    } else if (vt == VT_BSTR) {
      if (src->bstrVal) {
        copy.bstrVal = SysAllocStringByteLen(reinterpret_cast<const char*>(src->bstrVal),
                                             SysStringByteLen(src->bstrVal));
        if (!copy.bstrVal) return E_OUTOFMEMORY;
      }
    } else if (vt == VT_UNKNOWN || vt == VT_DISPATCH) {
      if (copy.punkVal) copy.punkVal->AddRef();
    }
  }
  const HRESULT hr = VariantClear(dst);
  if (FAILED(hr)) {
    VariantClear(&copy);
    return hr;
  }
  *dst = copy;
  return S_OK;
}

// ---- RAII owners ----------------------------------------------------------

ComVariant::ComVariant(const ComVariant& other) {
  VariantInit(&v_);
  VariantCopy(&v_, &other.v_);
}

ComVariant::ComVariant(ComVariant&& other) noexcept : v_(other.v_) { VariantInit(&other.v_); }

ComVariant& ComVariant::operator=(const ComVariant& other) {
  if (this != &other) VariantCopy(&v_, &other.v_);
  return *this;
}

ComVariant& ComVariant::operator=(ComVariant&& other) noexcept {
  if (this != &other) {
    VariantClear(&v_);
    v_ = other.v_;
    VariantInit(&other.v_);
  }
  return *this;
}

ComVariant ComVariant::FromI4(int32_t value) {
  ComVariant v;
  v.v_.vt = VT_I4;
  v.v_.lVal = value;
  return v;
}

ComVariant ComVariant::FromR8(double value) {
  ComVariant v;
  v.v_.vt = VT_R8;
  v.v_.dblVal = value;
  return v;
}

ComVariant ComVariant::FromBool(bool value) {
  ComVariant v;
  v.v_.vt = VT_BOOL;
  v.v_.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  return v;
}

ComVariant ComVariant::FromString(std::string_view utf8) {
  ComVariant v;
  v.v_.bstrVal = Utf8ToBstr(utf8);
  // Out of memory leaves an empty variant rather than a BSTR-typed null.
  if (v.v_.bstrVal) v.v_.vt = VT_BSTR;
  return v;
}

VARIANT ComVariant::Detach() {
  VARIANT out = v_;
  VariantInit(&v_);
  return out;
}

ComBstr& ComBstr::operator=(ComBstr&& other) noexcept {
  if (this != &other) {
    SysFreeString(s_);
    s_ = other.s_;
    other.s_ = nullptr;
  }
  return *this;
}
