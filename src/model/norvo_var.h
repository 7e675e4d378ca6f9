// One published value: a PLC variable or a system tag, with its raw value,
// request flags and the rules that turn them into an OPC quality, a VARIANT
// and a display text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "common/colors.h"
#include "platform/clock.h"
#include "platform/variant.h"

class ITagEnvironment;
class TNorvoModel;
class ITagTableView;
class TATreeItem;

// Type codes, one byte each.
inline constexpr uint8_t ntNone = 0;
inline constexpr uint8_t ntBit = 1;
inline constexpr uint8_t ntWord = 2;
inline constexpr uint8_t ntInt = 3;
inline constexpr uint8_t ntLong = 4;
inline constexpr uint8_t ntReal = 5;
inline constexpr uint8_t ntString = 6;  // system tags only
inline constexpr uint8_t ntBitArray = 7;
inline constexpr uint8_t ntIntArray = 8;
inline constexpr uint8_t ntLongArray = 9;
inline constexpr uint8_t ntRealArray = 10;

constexpr bool IsArrayType(uint8_t code) { return code >= ntBitArray && code <= ntRealArray; }

// Bytes the value takes on the wire; 0 for types that never travel.
constexpr int VarTypeSize(uint8_t code) {
  switch (code) {
    case ntBit: return 1;
    case ntWord:
    case ntInt: return 2;
    case ntLong:
    case ntReal: return 4;
    default: return 0;
  }
}

// The canonical VARIANT type of a code.
constexpr VARTYPE VarTypeVT(uint8_t code) {
  switch (code) {
    case ntBit: return VT_BOOL;
    case ntWord: return VT_UI2;
    case ntInt: return VT_I2;
    case ntLong: return VT_I4;
    case ntReal: return VT_R4;
    case ntString: return VT_BSTR;
    case ntBitArray: return VT_ARRAY | VT_BOOL;
    case ntIntArray: return VT_ARRAY | VT_I2;
    case ntLongArray: return VT_ARRAY | VT_I4;
    case ntRealArray: return VT_ARRAY | VT_R4;
    default: return VT_EMPTY;
  }
}

// OPC quality words; lower is worse.
inline constexpr uint16_t kQualityGood = 0xC0;
inline constexpr uint16_t kQualityLocalOverride = 0xD8;
inline constexpr uint16_t kQualityConfigError = 0x04;
inline constexpr uint16_t kQualityBad = 0x00;
inline constexpr uint16_t kQualityUncertain = 0x40;
inline constexpr uint16_t kQualityLastUsable = 0x44;
inline constexpr uint16_t kQualityLastKnown = 0x14;

inline constexpr uint32_t kMaxTagAge = 10000000;  // ms

// Coerces a client value to the canonical type of `code` with the OLE rules
// and gives the raw 32-bit form stored in FValue; nullopt when the value
// cannot be coerced (type mismatch, overflow). Codes 0 and 6 give 0.
std::optional<int32_t> VariantToRaw(const VARIANT& Value, uint8_t Code);

// The quality options of the tag environment, read once: a pass over many
// tags then makes no call per tag to learn them.
struct TQualityRules {
  static TQualityRules Current();

  const ITagEnvironment* Env;  // for the cached tick, asked only by array tags
  bool EnableBad;
  bool EnableUncertain;
  uint64_t UncertainMs;
  uint64_t BadMs;
};

// Aligned to a cache line, so the fields the group timer reads on every
// pass (at the front) never straddle two lines.
class alignas(64) TNorvoVar {
 public:
  // Owner may be null (server-wide system tags). The creator then sets type,
  // address, description and array head.
  TNorvoVar(TNorvoModel* Owner, std::string Name);
  TNorvoVar(const TNorvoVar&) = delete;
  TNorvoVar& operator=(const TNorvoVar&) = delete;

  // The current value. Value must hold a valid VARIANT (initialised or
  // filled); its old content is cleared first.
  void GetValueVariant(VARIANT* Value) const;
  // A value written by a client; false when refused, leaving the tag as it was
  // (array writes may stop part-way, keeping what was already stored).
  bool SetFromVariant(const VARIANT& Value);
  void SetByOperator(int32_t Raw);
  void UpdateFromPLC(int32_t Raw);
  // Data another PLC sent in a network socket: a negative acknowledge to our
  // own request is left standing.
  void UpdateFromSocket(int32_t Raw);
  void UpdateText(const std::string& Text);
  void WriteConfirmed();
  uint16_t GetQuality();
  // The same with the quality options read once for many tags (valid while
  // nobody changes the options).
  uint16_t GetQuality(const TQualityRules& Rules);
  // Lowest quality among this array tag's elements.
  uint16_t ElementsQuality();
  std::string ValueText(bool ShowDash) const;
  // No fresh value can be expected, so a client waiting for a device read
  // must not wait.
  bool CannotRefresh() const;
  // Refreshes FAge from the given tick; system tags and orphans keep theirs.
  void Age(uint32_t Tick);

  // Calls fn(TNorvoVar&) for each element of this array tag in list order
  // (defined in norvo_model.h).
  template <class Fn>
  void ForEachElement(Fn&& fn) const;

  // What the group timer reads of every subscribed tag on every pass (value,
  // quality inputs, read request) and of every reported one (stamp, rights),
  // together at the front so that a pass over many tags touches one cache
  // line of each.
  int32_t FValue = 0;
  uint32_t FAge = 0;
  TNorvoVar* FArrayHead = nullptr;  // not owned; a tag of the same PLC
  TDateTime FTimestamp = 0;
  int FAccessRights = 3;
  uint8_t FVarType = ntNone;
  bool FValid = false;
  bool FReadRequest = false;
  bool FForced = false;
  bool FOrphan = false;
  bool FNakError = false;
  bool FIsSystem = false;

  std::string FName;
  std::string FItemID;
  TNorvoModel* FOwner = nullptr;  // not owned
  std::string FStrValue;
  bool FWritePending = false;
  bool FWriteRequest = false;
  int FAddress = 0;
  TDateTime FWriteAckTime = 0;
  std::string FDescription;
  int FRefCount = 0;
  bool FInRequest = false;
  bool FDeletePending = false;
  uint16_t FArrayQuality = kQualityGood;
  uint32_t FArrayQualityTick = 0;
  int FNoReplyCount = 0;
  bool FShowHex = false;
  TColor FColor = clNone;
  uint32_t FUpdateTick = 0;
  ITagTableView* FView = nullptr;  // the owner's tag table showing the tag; not owned
  TATreeItem* FViewItem = nullptr;  // its row there, when that table keeps rows

 private:
  void StoreReply(int32_t Raw, bool clearNak);
  uint16_t ScalarQuality(const TQualityRules& Rules) const;
  uint16_t ElementsQuality(const TQualityRules& Rules);
  bool SetArrayFromVariant(const VARIANT& Value);
  void GetArrayVariant(VARIANT* Value) const;

  // Where this tag last sat in its owner's list; only a hint, checked on use.
  mutable size_t FHeadIndexHint = 0;
};
