#include "model/norvo_var.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <memory>

#include "model/norvo_model.h"
#include "model/tag_environment.h"

namespace {

float RawToSingle(int32_t raw) { return std::bit_cast<float>(raw); }

// Up to 15 significant digits, fixed notation while the integer part has at
// most 15 digits and the value is at least 0.00001, else "1.5E20" / "1E-6":
// the text operators know from the original program.
std::string FormatReal(double v) {
  if (std::isnan(v)) return "NAN";
  if (std::isinf(v)) return v < 0 ? "-INF" : "INF";
  if (v == 0) return "0";

  char buf[40];
  std::snprintf(buf, sizeof buf, "%.14e", v);  // "-d.dddddddddddddde±x"
  std::string text(buf);
  const bool negative = text[0] == '-';
  if (negative) text.erase(0, 1);
  const size_t epos = text.find('e');
  const int exp10 = std::atoi(text.c_str() + epos + 1);
  std::string digits = text.substr(0, 1) + text.substr(2, epos - 2);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

  // Decimal places before the point when the digits are read as 0.ddd.
  const int point = exp10 + 1;
  std::string out = negative ? "-" : "";
  if (point > 15 || point < -4) {
    out += digits[0];
    if (digits.size() > 1) out += "." + digits.substr(1);
    out += "E" + std::to_string(exp10);
  } else if (point <= 0) {
    out += "0." + std::string(static_cast<size_t>(-point), '0') + digits;
  } else {
    const size_t p = static_cast<size_t>(point);
    if (digits.size() <= p) {
      out += digits + std::string(p - digits.size(), '0');
    } else {
      out += digits.substr(0, p) + "." + digits.substr(p);
    }
  }
  return out;
}

std::string Hex(uint32_t value, int minDigits) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "H%0*X", minDigits, value);
  return buf;
}

struct SafeArrayDeleter {
  void operator()(SAFEARRAY* sa) const { SafeArrayDestroy(sa); }
};
using SafeArrayPtr = std::unique_ptr<SAFEARRAY, SafeArrayDeleter>;

// Byte size of an element of a client array of this type; 0 for types we do
// not read (interfaces, records, decimals).
uint32_t ClientElementSize(VARTYPE vt) {
  switch (vt) {
    case VT_I1:
    case VT_UI1: return 1;
    case VT_BOOL:
    case VT_I2:
    case VT_UI2: return 2;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_ERROR: return 4;
    case VT_R8:
    case VT_DATE:
    case VT_CY:
    case VT_I8:
    case VT_UI8: return 8;
    case VT_BSTR: return sizeof(BSTR);
    case VT_VARIANT: return sizeof(VARIANT);
    default: return 0;
  }
}

// A client's one-dimensional array, checked so that reading an element can
// never run past what the array really holds.
struct ClientArray {
  SAFEARRAY* sa = nullptr;
  VARTYPE vt = VT_EMPTY;
  int32_t lower = 0;
  int32_t upper = -1;
};

std::optional<ClientArray> OpenClientArray(const VARIANT& value) {
  if (!(value.vt & VT_ARRAY)) return std::nullopt;
  ClientArray a;
  if (value.vt & VT_BYREF) {
    auto* ref = static_cast<SAFEARRAY**>(value.byref);
    if (!ref) return std::nullopt;
    a.sa = *ref;
  } else {
    a.sa = value.parray;
  }
  if (!a.sa || SafeArrayGetDim(a.sa) != 1) return std::nullopt;
  if (FAILED(SafeArrayGetVartype(a.sa, &a.vt))) a.vt = value.vt & VT_TYPEMASK;
  const uint32_t size = ClientElementSize(a.vt);
  if (size == 0 || SafeArrayGetElemsize(a.sa) != size) return std::nullopt;
  if (FAILED(SafeArrayGetLBound(a.sa, 1, &a.lower)) || FAILED(SafeArrayGetUBound(a.sa, 1, &a.upper)))
    return std::nullopt;
  return a;
}

// Copies one element out as a VARIANT of its own.
bool ReadClientElement(const ClientArray& a, int32_t index, ComVariant& out) {
  VARIANT* v = out.get();
  VariantClear(v);
  if (a.vt == VT_VARIANT) return SUCCEEDED(SafeArrayGetElement(a.sa, &index, v));
  // Every scalar member of the value union starts at the same offset.
  if (FAILED(SafeArrayGetElement(a.sa, &index, &v->llVal))) return false;
  v->vt = a.vt;
  return true;
}

}  // namespace

std::optional<int32_t> VariantToRaw(const VARIANT& Value, uint8_t Code) {
  const VARTYPE vt = VarTypeVT(Code);
  ComVariant converted;
  if (FAILED(VariantChangeType(converted.get(), &Value, 0, vt))) return std::nullopt;
  const VARIANT& c = *converted.get();
  switch (vt) {
    case VT_BOOL: return c.boolVal != 0 ? 1 : 0;
    case VT_UI2: return static_cast<int32_t>(c.uiVal);
    case VT_I2: return static_cast<int32_t>(c.iVal);
    case VT_I4: return c.lVal;
    case VT_R4: return std::bit_cast<int32_t>(c.fltVal);
    default: return 0;
  }
}

TNorvoVar::TNorvoVar(TNorvoModel* Owner, std::string Name) : FName(std::move(Name)), FOwner(Owner) {
  if (FOwner) FItemID = FOwner->FName + "." + FName;
  // Due at once: the first question about an array's quality must look at
  // its elements rather than report the initial "good" for up to a second.
  FArrayQualityTick = TagEnvironment().CachedTick() - 1000;
}

void TNorvoVar::GetValueVariant(VARIANT* Value) const {
  VariantClear(Value);
  switch (FVarType) {
    case ntString:
      Value->vt = VT_BSTR;
      Value->bstrVal = Utf8ToBstr(FStrValue);
      return;
    case ntReal:
      Value->vt = VT_R4;
      Value->fltVal = RawToSingle(FValue);
      return;
    case ntBitArray:
    case ntIntArray:
    case ntLongArray:
    case ntRealArray:
      GetArrayVariant(Value);
      return;
    default:
      break;
  }
  const VARTYPE vt = VarTypeVT(FVarType);
  VARIANT raw;
  VariantInit(&raw);
  raw.vt = VT_I4;
  raw.lVal = FValue;
  if (SUCCEEDED(VariantChangeType(Value, &raw, 0, vt))) return;
  // Only a raw value wider than the type gets here; the PLC keeps the low
  // bytes of it, so that is what the client sees.
  Value->vt = vt;
  if (vt == VT_I2) Value->iVal = static_cast<int16_t>(FValue);
  if (vt == VT_UI2) Value->uiVal = static_cast<uint16_t>(FValue);
}

void TNorvoVar::GetArrayVariant(VARIANT* Value) const {
  const VARTYPE elemVt = VarTypeVT(FVarType) & VT_TYPEMASK;
  SafeArrayPtr sa;
  uint32_t capacity = 0;
  uint32_t count = 0;
  bool failed = false;
  ForEachElement([&](const TNorvoVar& e) {
    if (failed) return;
    if (count == capacity) {
      capacity = capacity == 0 ? 101 : capacity + 100;
      if (!sa) {
        sa.reset(SafeArrayCreateVector(elemVt, 0, capacity));
        failed = !sa;
      } else {
        SAFEARRAYBOUND bound{capacity, 0};
        failed = FAILED(SafeArrayRedim(sa.get(), &bound));
      }
      if (failed) return;
    }
    ComVariant src;
    if (e.FVarType == ntReal) {
      src->vt = VT_R4;
      src->fltVal = RawToSingle(e.FValue);
    } else if (e.FVarType == ntString) {
      src->vt = VT_BSTR;
      src->bstrVal = Utf8ToBstr(e.FStrValue);
    } else {
      src->vt = VT_I4;
      src->lVal = e.FValue;
    }
    ComVariant dst;
    // An element that does not fit the array's type stays zero.
    const int32_t index = static_cast<int32_t>(count);
    if (SUCCEEDED(VariantChangeType(dst.get(), src.get(), 0, elemVt)))
      SafeArrayPutElement(sa.get(), &index, &dst->llVal);
    ++count;
  });
  if (failed) {
    // Out of memory: no value rather than a wrong one.
    Value->vt = VT_EMPTY;
    return;
  }
  if (count == 0) {
    Value->vt = VT_I4;
    Value->lVal = 0;
    return;
  }
  SAFEARRAYBOUND bound{count, 0};
  if (FAILED(SafeArrayRedim(sa.get(), &bound))) {
    Value->vt = VT_EMPTY;
    return;
  }
  Value->vt = VT_ARRAY | elemVt;
  Value->parray = sa.release();
}

bool TNorvoVar::SetFromVariant(const VARIANT& Value) {
  if (IsArrayType(FVarType)) return SetArrayFromVariant(Value);
  const auto raw = VariantToRaw(Value, FVarType);
  if (!raw) return false;
  FValue = *raw;
  FWriteRequest = true;
  FWritePending = true;
  FValid = true;
  return true;
}

bool TNorvoVar::SetArrayFromVariant(const VARIANT& Value) {
  if (!FOwner) return false;
  const auto array = OpenClientArray(Value);
  // A single element (high bound 0) is refused: arrays come with more.
  if (!array || array->upper <= 0) return false;
  // Elements are taken from the array's own lower bound, so a 1-based array
  // writes from its first element instead of failing on index 0.
  int64_t index = array->lower;
  bool wroteAny = false;
  bool stopped = false;
  ComVariant element;
  ForEachElement([&](TNorvoVar& e) {
    if (stopped || index > array->upper) {
      stopped = true;
      return;
    }
    if (!ReadClientElement(*array, static_cast<int32_t>(index), element)) {
      stopped = true;
      return;
    }
    const auto raw = VariantToRaw(*element.get(), e.FVarType);
    if (!raw) {
      stopped = true;
      return;
    }
    e.FValue = *raw;
    e.FWriteRequest = true;
    e.FWritePending = true;
    e.FValid = true;
    wroteAny = true;
    ++index;
  });
  // Nothing stored is a refusal, not a success.
  return wroteAny;
}

void TNorvoVar::SetByOperator(int32_t Raw) {
  FValue = Raw;
  FWriteRequest = true;
  FWritePending = true;
  FValid = true;
  FForced = true;
}

void TNorvoVar::StoreReply(int32_t Raw, bool clearNak) {
  // A released tag waiting to be freed takes nothing more from replies.
  if (FDeletePending) return;
  const ITagEnvironment& env = TagEnvironment();
  if (!FWritePending) {
    FValue = Raw;
    FValid = true;
    FReadRequest = false;
    FForced = false;
    if (clearNak) FNakError = false;
  }
  FTimestamp = env.CachedNow();
  if (FArrayHead) FArrayHead->FTimestamp = FTimestamp;
  FUpdateTick = env.CachedTick();
}

void TNorvoVar::UpdateFromPLC(int32_t Raw) { StoreReply(Raw, true); }

void TNorvoVar::UpdateFromSocket(int32_t Raw) { StoreReply(Raw, false); }

void TNorvoVar::UpdateText(const std::string& Text) {
  if (FDeletePending) return;
  FStrValue = Text;
  UpdateFromPLC(0);
}

void TNorvoVar::WriteConfirmed() {
  if (FDeletePending) return;
  FWriteAckTime = TagEnvironment().PresentTime();
  // A newer value written while this one was in flight waits for its own
  // acknowledge.
  if (!FWriteRequest) {
    FWritePending = false;
    FNakError = false;
  }
}

TQualityRules TQualityRules::Current() {
  const ITagEnvironment& env = TagEnvironment();
  TQualityRules r{&env, env.EnableBad(), env.EnableUncertain(), 0, 0};
  if (r.EnableUncertain) r.UncertainMs = uint64_t{env.UncertainTime()} * 1000;
  if (r.EnableBad) r.BadMs = uint64_t{env.BadTime()} * 1000;
  return r;
}

uint16_t TNorvoVar::ScalarQuality(const TQualityRules& Rules) const {
  if (!FValid) {
    if (Rules.EnableBad) return kQualityBad;
    if (Rules.EnableUncertain) return kQualityUncertain;
    return kQualityGood;
  }
  uint16_t q = kQualityGood;
  if (Rules.EnableUncertain && FAge >= Rules.UncertainMs) q = kQualityLastUsable;
  if (Rules.EnableBad && FAge >= Rules.BadMs) q = kQualityLastKnown;
  return q;
}

uint16_t TNorvoVar::GetQuality() { return GetQuality(TQualityRules::Current()); }

uint16_t TNorvoVar::GetQuality(const TQualityRules& Rules) {
  uint16_t q;
  if (FForced) {
    q = kQualityLocalOverride;
  } else if (FOrphan || FNakError) {
    q = kQualityConfigError;
  } else if (FIsSystem) {
    return kQualityGood;
  } else if (IsArrayType(FVarType)) {
    const uint32_t tick = Rules.Env->CachedTick();
    if (TickDiff(tick, FArrayQualityTick) >= 1000) {
      FArrayQualityTick = tick;
      FArrayQuality = ElementsQuality(Rules);
    }
    return FArrayQuality;
  } else {
    q = ScalarQuality(Rules);
  }
  // A worse element pulls its array down at once, between the recomputations.
  if (FArrayHead && FArrayHead->FArrayQuality > q) FArrayHead->FArrayQuality = q;
  return q;
}

uint16_t TNorvoVar::ElementsQuality() { return ElementsQuality(TQualityRules::Current()); }

uint16_t TNorvoVar::ElementsQuality(const TQualityRules& Rules) {
  uint16_t lowest = kQualityGood;
  ForEachElement([&](TNorvoVar& e) {
    if (lowest == kQualityBad) return;
    lowest = std::min(lowest, e.GetQuality(Rules));
  });
  return lowest;
}

std::string TNorvoVar::ValueText(bool ShowDash) const {
  if (!FValid) return ShowDash ? "-" : "0";
  const auto bits = static_cast<uint32_t>(FValue);
  switch (FVarType) {
    case ntReal: return FShowHex ? Hex(bits, 8) : FormatReal(RawToSingle(FValue));
    case ntString: return FStrValue;
    default: break;
  }
  if (!FShowHex) return std::to_string(FValue);
  return Hex(bits, FVarType == ntLong ? 8 : 4);
}

bool TNorvoVar::CannotRefresh() const {
  return !FOwner || FOwner->FTimedOut || !TagEnvironment().PermissionRecent() || FNoReplyCount > 1;
}

void TNorvoVar::Age(uint32_t Tick) {
  if (FIsSystem || FOrphan) return;
  FAge = std::min(TickDiff(Tick, FUpdateTick), kMaxTagAge);
}
