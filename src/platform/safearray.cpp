// SAFEARRAY: a descriptor block (with the element VARTYPE stored just before
// it, as OLE does) and a separate data block, both from the task allocator.
// Bounds are kept in the order they were given; the first index varies
// fastest, so redimensioning the last bound only grows or cuts the tail.
#include <cstring>
#include <limits>

#include "platform/variant.h"

namespace {
// The VARTYPE lives in the 16 bytes before the descriptor, keeping the
// descriptor itself suitably aligned.
constexpr size_t kHeader = 16;

uint32_t ElementSize(VARTYPE vt) {
  switch (vt) {
    case VT_I1:
    case VT_UI1:
      return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      return 2;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_ERROR:
      return 4;
    case VT_R8:
    case VT_DATE:
    case VT_CY:
    case VT_I8:
    case VT_UI8:
      return 8;
    case VT_BSTR:
    case VT_UNKNOWN:
    case VT_DISPATCH:
      return sizeof(void*);
    case VT_VARIANT:
      return sizeof(VARIANT);
    case VT_DECIMAL:
      return sizeof(DECIMAL);
    default:
      return 0;
  }
}

uint16_t FeaturesFor(VARTYPE vt) {
  switch (vt) {
    case VT_BSTR:
      return FADF_HAVEVARTYPE | FADF_BSTR;
    case VT_VARIANT:
      return FADF_HAVEVARTYPE | FADF_VARIANT;
    case VT_UNKNOWN:
      return FADF_HAVEVARTYPE | FADF_UNKNOWN;
    case VT_DISPATCH:
      return FADF_HAVEVARTYPE | FADF_DISPATCH;
    default:
      return FADF_HAVEVARTYPE;
  }
}

unsigned char* BlockOf(const SAFEARRAY* sa) {
  return reinterpret_cast<unsigned char*>(const_cast<SAFEARRAY*>(sa)) - kHeader;
}

VARTYPE StoredVartype(const SAFEARRAY* sa) {
  VARTYPE vt;
  std::memcpy(&vt, BlockOf(sa) + kHeader - sizeof(uint32_t), sizeof(vt));
  return vt;
}

size_t DescriptorBytes(uint32_t dims) {
  return kHeader + sizeof(SAFEARRAY) + (dims - 1) * sizeof(SAFEARRAYBOUND);
}

// Like OLE, data beyond 2 GiB is refused rather than attempted.
constexpr uint64_t kMaxDataBytes = 0x7FFFFFFF;

// False when the element count alone is already out of reach.
bool ElementCount(const SAFEARRAY* sa, size_t* count) {
  uint64_t total = 1;
  for (uint32_t d = 0; d < sa->cDims; ++d) {
    total *= sa->rgsabound[d].cElements;
    if (total > kMaxDataBytes) return false;
  }
  *count = static_cast<size_t>(total);
  return true;
}

bool DataBytes(const SAFEARRAY* sa, size_t count, size_t* bytes) {
  const uint64_t b = static_cast<uint64_t>(count) * sa->cbElements;
  if (b > kMaxDataBytes) return false;
  *bytes = static_cast<size_t>(b);
  return true;
}

// Releases what elements [first, first+count) own and zeroes them.
void ReleaseElements(SAFEARRAY* sa, size_t first, size_t count) {
  auto* base = static_cast<unsigned char*>(sa->pvData) + first * sa->cbElements;
  if (sa->fFeatures & FADF_BSTR) {
    auto* items = reinterpret_cast<BSTR*>(base);
    for (size_t i = 0; i < count; ++i) SysFreeString(items[i]);
  } else if (sa->fFeatures & FADF_VARIANT) {
    auto* items = reinterpret_cast<VARIANT*>(base);
    for (size_t i = 0; i < count; ++i) VariantClear(&items[i]);
  } else if (sa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
    auto* items = reinterpret_cast<IUnknown**>(base);
    for (size_t i = 0; i < count; ++i) {
      if (items[i]) items[i]->Release();
    }
  }
  std::memset(base, 0, count * sa->cbElements);
}

HRESULT ElementPointer(const SAFEARRAY* sa, const int32_t* indices, unsigned char** out) {
  if (!sa || !indices || !out) return E_INVALIDARG;
  size_t offset = 0;
  size_t stride = 1;
  for (uint32_t d = 0; d < sa->cDims; ++d) {
    const SAFEARRAYBOUND& b = sa->rgsabound[d];
    const int64_t rel = static_cast<int64_t>(indices[d]) - b.lLbound;
    if (rel < 0 || rel >= static_cast<int64_t>(b.cElements)) return DISP_E_BADINDEX;
    offset += static_cast<size_t>(rel) * stride;
    stride *= b.cElements;
  }
  *out = static_cast<unsigned char*>(sa->pvData) + offset * sa->cbElements;
  return S_OK;
}

// Copies one element's value into fresh storage; `dst` is treated as raw.
HRESULT CopyElement(const SAFEARRAY* sa, const unsigned char* from, unsigned char* to) {
  if (sa->fFeatures & FADF_BSTR) {
    BSTR s;
    std::memcpy(&s, from, sizeof(s));
    BSTR copy = nullptr;
    if (s) {
      copy = SysAllocStringByteLen(reinterpret_cast<const char*>(s), SysStringByteLen(s));
      if (!copy) return E_OUTOFMEMORY;
    }
    std::memcpy(to, &copy, sizeof(copy));
  } else if (sa->fFeatures & FADF_VARIANT) {
    auto* v = reinterpret_cast<VARIANT*>(to);
    VariantInit(v);
    return VariantCopy(v, reinterpret_cast<const VARIANT*>(from));
  } else if (sa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
    IUnknown* p;
    std::memcpy(&p, from, sizeof(p));
    if (p) p->AddRef();
    std::memcpy(to, &p, sizeof(p));
  } else {
    std::memcpy(to, from, sa->cbElements);
  }
  return S_OK;
}
}  // namespace

SAFEARRAY* SafeArrayCreate(VARTYPE vt, uint32_t dims, const SAFEARRAYBOUND* bounds) {
  const uint32_t elemSize = ElementSize(vt);
  if (elemSize == 0 || dims == 0 || dims > 64 || !bounds) return nullptr;
  auto* block = static_cast<unsigned char*>(CoTaskMemAlloc(DescriptorBytes(dims)));
  if (!block) return nullptr;
  std::memset(block, 0, DescriptorBytes(dims));
  std::memcpy(block + kHeader - sizeof(uint32_t), &vt, sizeof(vt));
  auto* sa = reinterpret_cast<SAFEARRAY*>(block + kHeader);
  sa->cDims = static_cast<uint16_t>(dims);
  sa->fFeatures = FeaturesFor(vt);
  sa->cbElements = elemSize;
  for (uint32_t d = 0; d < dims; ++d) sa->rgsabound[d] = bounds[d];
  size_t count = 0;
  size_t bytes = 0;
  if (!ElementCount(sa, &count) || !DataBytes(sa, count, &bytes) ||
      !(sa->pvData = CoTaskMemAlloc(bytes))) {
    CoTaskMemFree(block);
    return nullptr;
  }
  std::memset(sa->pvData, 0, bytes);
  return sa;
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, int32_t lowerBound, uint32_t elements) {
  const SAFEARRAYBOUND bound{elements, lowerBound};
  return SafeArrayCreate(vt, 1, &bound);
}

HRESULT SafeArrayDestroy(SAFEARRAY* sa) {
  if (!sa) return S_OK;
  if (sa->cLocks > 0) return DISP_E_ARRAYISLOCKED;
  size_t count = 0;
  if (sa->pvData && ElementCount(sa, &count)) ReleaseElements(sa, 0, count);
  CoTaskMemFree(sa->pvData);
  CoTaskMemFree(BlockOf(sa));
  return S_OK;
}

HRESULT SafeArrayCopy(const SAFEARRAY* src, SAFEARRAY** dst) {
  if (!dst) return E_INVALIDARG;
  *dst = nullptr;
  if (!src) return S_OK;
  SAFEARRAY* copy = SafeArrayCreate(StoredVartype(src), src->cDims, src->rgsabound);
  if (!copy) return E_OUTOFMEMORY;
  size_t count = 0;
  ElementCount(src, &count);
  const auto* from = static_cast<const unsigned char*>(src->pvData);
  auto* to = static_cast<unsigned char*>(copy->pvData);
  for (size_t i = 0; i < count; ++i) {
    const HRESULT hr = CopyElement(src, from + i * src->cbElements, to + i * src->cbElements);
    if (FAILED(hr)) {
      SafeArrayDestroy(copy);
      return hr;
    }
  }
  *dst = copy;
  return S_OK;
}

HRESULT SafeArrayRedim(SAFEARRAY* sa, const SAFEARRAYBOUND* newBound) {
  if (!sa || !newBound) return E_INVALIDARG;
  if (sa->cLocks > 0) return DISP_E_ARRAYISLOCKED;
  size_t oldCount = 0;
  if (!ElementCount(sa, &oldCount)) return E_INVALIDARG;
  SAFEARRAYBOUND& last = sa->rgsabound[sa->cDims - 1];
  const SAFEARRAYBOUND saved = last;
  last = *newBound;
  size_t newCount = 0;
  size_t newBytes = 0;
  if (!ElementCount(sa, &newCount) || !DataBytes(sa, newCount, &newBytes)) {
    last = saved;
    return E_OUTOFMEMORY;
  }
  if (newCount < oldCount) ReleaseElements(sa, newCount, oldCount - newCount);
  // Never ask for zero bytes: that would free the block instead.
  void* data = CoTaskMemRealloc(sa->pvData, newBytes == 0 ? 1 : newBytes);
  if (!data) {
    // Only a grow can fail here; the old elements are intact.
    last = saved;
    return E_OUTOFMEMORY;
  }
  sa->pvData = data;
  if (newCount > oldCount) {
    std::memset(static_cast<unsigned char*>(data) + oldCount * sa->cbElements, 0,
                (newCount - oldCount) * sa->cbElements);
  }
  return S_OK;
}

uint32_t SafeArrayGetDim(const SAFEARRAY* sa) { return sa ? sa->cDims : 0; }

uint32_t SafeArrayGetElemsize(const SAFEARRAY* sa) { return sa ? sa->cbElements : 0; }

HRESULT SafeArrayGetVartype(const SAFEARRAY* sa, VARTYPE* vt) {
  if (!sa || !vt) return E_INVALIDARG;
  *vt = StoredVartype(sa);
  return S_OK;
}

HRESULT SafeArrayGetLBound(const SAFEARRAY* sa, uint32_t dim, int32_t* bound) {
  if (!sa || !bound) return E_INVALIDARG;
  if (dim < 1 || dim > sa->cDims) return DISP_E_BADINDEX;
  *bound = sa->rgsabound[dim - 1].lLbound;
  return S_OK;
}

HRESULT SafeArrayGetUBound(const SAFEARRAY* sa, uint32_t dim, int32_t* bound) {
  if (!sa || !bound) return E_INVALIDARG;
  if (dim < 1 || dim > sa->cDims) return DISP_E_BADINDEX;
  const SAFEARRAYBOUND& b = sa->rgsabound[dim - 1];
  *bound = static_cast<int32_t>(static_cast<int64_t>(b.lLbound) + b.cElements - 1);
  return S_OK;
}

HRESULT SafeArrayGetElement(const SAFEARRAY* sa, const int32_t* indices, void* out) {
  if (!out) return E_INVALIDARG;
  unsigned char* elem = nullptr;
  const HRESULT hr = ElementPointer(sa, indices, &elem);
  if (FAILED(hr)) return hr;
  return CopyElement(sa, elem, static_cast<unsigned char*>(out));
}

HRESULT SafeArrayPutElement(SAFEARRAY* sa, const int32_t* indices, const void* in) {
  unsigned char* elem = nullptr;
  const HRESULT hr = ElementPointer(sa, indices, &elem);
  if (FAILED(hr)) return hr;
  if (sa->fFeatures & (FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH)) {
    // The pointer itself is the value; copy it before dropping the old one
    // so putting an element's own value back is safe.
    unsigned char fresh[sizeof(void*)];
    const unsigned char* value = reinterpret_cast<const unsigned char*>(&in);
    HRESULT copied = CopyElement(sa, value, fresh);
    if (FAILED(copied)) return copied;
    ReleaseElements(sa, static_cast<size_t>(elem - static_cast<unsigned char*>(sa->pvData)) / sa->cbElements, 1);
    std::memcpy(elem, fresh, sizeof(fresh));
    return S_OK;
  }
  if (!in) return E_INVALIDARG;
  if (sa->fFeatures & FADF_VARIANT) {
    VARIANT fresh;
    VariantInit(&fresh);
    const HRESULT copied = VariantCopy(&fresh, static_cast<const VARIANT*>(in));
    if (FAILED(copied)) return copied;
    auto* slot = reinterpret_cast<VARIANT*>(elem);
    VariantClear(slot);
    *slot = fresh;
    return S_OK;
  }
  std::memcpy(elem, in, sa->cbElements);
  return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* sa, void** data) {
  if (!sa || !data) return E_INVALIDARG;
  ++sa->cLocks;
  *data = sa->pvData;
  return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* sa) {
  if (!sa) return E_INVALIDARG;
  if (sa->cLocks == 0) return E_UNEXPECTED;
  --sa->cLocks;
  return S_OK;
}
