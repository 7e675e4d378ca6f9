#include "opc/browse_object.h"

#include <algorithm>
#include <new>

#include "model/norvo_model.h"
#include "model/norvo_var.h"
#include "model/same_text.h"
#include "opc/address_space.h"
#include "opc/enum_string.h"
#include "opc/opc_server.h"
#include "opc/opc_server_collection.h"
#include "opc/opc_support.h"

namespace {

std::string Lower(const std::string& s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

void AddTags(std::vector<TBrowseEntry>& list, const std::vector<std::unique_ptr<TNorvoVar>>& tags, bool plcTags,
             bool hideArrayElements) {
  for (const auto& t : tags) {
    if (plcTags && hideArrayElements && t->FArrayHead) continue;
    list.push_back({t->FItemID, t.get(), plcTags});
  }
}

}  // namespace

void SortBrowseList(std::vector<TBrowseEntry>& list) {
  size_t end = list.size();
  while (end > 0 && !list[end - 1].plcTag) --end;
  if (end == 0) return;
  // Keys made once: the comparisons are the whole cost for large PLCs.
  struct Keyed {
    std::string key;
    size_t index;
  };
  std::vector<TBrowseEntry> sorted;
  sorted.reserve(list.size());
  std::vector<Keyed> run;
  auto flush = [&] {
    std::stable_sort(run.begin(), run.end(), [](const Keyed& a, const Keyed& b) { return a.key < b.key; });
    for (const Keyed& k : run) sorted.push_back(std::move(list[k.index]));
    run.clear();
  };
  for (size_t i = 0; i < end; ++i) {
    if (!list[i].tag) {
      flush();
      sorted.push_back(std::move(list[i]));
    } else {
      run.push_back({Lower(list[i].tag->FItemID), i});
    }
  }
  flush();
  for (size_t i = end; i < list.size(); ++i) sorted.push_back(std::move(list[i]));
  list = std::move(sorted);
}

void TBrowseObject::Validate(const IOPCAddressSpace& space) {
  if (!FPLC || space.ContainsPLC(FPLC)) return;
  FPLC = nullptr;
  if (FPosition == kPLC || FPosition == kPLCSys) FPosition = kRoot;
}

HRESULT TBrowseObject::ChangeBrowsePosition(const IOPCAddressSpace& space, OPCBROWSEDIRECTION direction,
                                            const std::string& name) {
  Validate(space);
  if (direction == OPC_BROWSE_UP) {
    switch (FPosition) {
      case kPLC:
      case kServerSys: FPosition = kRoot; return S_OK;
      case kPLCSys: FPosition = kPLC; return S_OK;
      default: return E_FAIL;
    }
  }
  if (direction != OPC_BROWSE_DOWN) return E_FAIL;
  if (FPosition == kRoot) {
    if (SameText(name, "sys")) {
      FPLC = nullptr;
      FPosition = kServerSys;
      return S_OK;
    }
    TNorvoModel* plc = space.FindPLCByName(name);
    if (!plc) return E_FAIL;
    FPLC = plc;
    FPosition = kPLC;
    return S_OK;
  }
  if (FPosition == kPLC && FPLC && SameText(name, "sys")) {
    FPosition = kPLCSys;
    return S_OK;
  }
  return E_FAIL;
}

std::vector<std::string> TBrowseObject::Browse(const IOPCAddressSpace& space, OPCBROWSETYPE filter,
                                               bool hideArrayElements) {
  Validate(space);
  std::vector<TBrowseEntry> list;
  const bool branch = filter == OPC_BRANCH, leaf = filter == OPC_LEAF, flat = filter == OPC_FLAT;
  switch (FPosition) {
    case kRoot:
      if (branch) {
        list.push_back({"Sys"});
        for (const auto& plc : space.PLCs()) list.push_back({plc->FName});
      } else if (flat) {
        const auto sys = space.ServerSysTags();
        for (const auto& t : sys) list.push_back({t->FItemID, t.get(), false});
        for (const auto& plc : space.PLCs()) {
          AddTags(list, plc->FSysTags, false, hideArrayElements);
          AddTags(list, plc->FTags, true, hideArrayElements);
        }
      }
      break;
    case kPLC:
      if (!FPLC) break;
      if (branch) list.push_back({"Sys"});
      if (flat) AddTags(list, FPLC->FSysTags, false, hideArrayElements);
      if (leaf || flat) AddTags(list, FPLC->FTags, true, hideArrayElements);
      break;
    case kServerSys:
      if (leaf || flat) {
        for (const auto& t : space.ServerSysTags()) list.push_back({t->FItemID, t.get(), false});
      }
      break;
    case kPLCSys:
      if (FPLC && (leaf || flat)) AddTags(list, FPLC->FSysTags, false, hideArrayElements);
      break;
    default: break;
  }
  SortBrowseList(list);
  std::vector<std::string> names;
  names.reserve(list.size());
  for (auto& e : list) names.push_back(std::move(e.text));
  return names;
}

std::string TBrowseObject::GetItemID(const std::string& name) const {
  return FPLC || FPosition == kServerSys ? name : std::string();
}

// ---- IOPCBrowseServerAddressSpace of the server object -----------------------------

namespace {

const IOPCAddressSpace& SpaceOf(const TOPCEnvironment& env) {
  // A space with no tags at all when the process has none.
  struct TEmptySpace final : IOPCAddressSpace {
    TNorvoVar* FindItem(const std::string&) override { return nullptr; }
    void TagUnreferenced(TNorvoVar*) override {}
  };
  static TEmptySpace empty;
  return env.addressSpace ? *env.addressSpace : empty;
}

}  // namespace

HRESULT TDA2::QueryOrganization(OPCNAMESPACETYPE* nameSpaceType) {
  HRESULT hr = E_INVALIDARG;
  if (nameSpaceType) {
    *nameSpaceType = OPC_NS_HIERARCHIAL;
    hr = S_OK;
  }
  TraceLine(Env().Log(), "IOPCBrowseServerAddressSpace::QueryOrganization", hr);
  return hr;
}

HRESULT TDA2::ChangeBrowsePosition(OPCBROWSEDIRECTION direction, const OLECHAR* name) {
  const std::string text = Utf16ToUtf8(OleView(name));
  Env().Log().LogLine(TLogBlockKind::Call, text, true);
  const HRESULT hr = FBrowse.ChangeBrowsePosition(SpaceOf(Env()), direction, text);
  TraceLine(Env().Log(), "IOPCBrowseServerAddressSpace::ChangeBrowsePosition", hr);
  return hr;
}

HRESULT TDA2::BrowseOPCItemIDs(OPCBROWSETYPE browseFilterType, const OLECHAR* /*filterCriteria*/,
                               VARTYPE /*dataTypeFilter*/, uint32_t /*accessRightsFilter*/,
                               IEnumString** enumerator) {
  if (enumerator) *enumerator = nullptr;
  TCallTrace trace(Env().Log(), "IOPCBrowseServerAddreddSpace::BrowseOPCItemIDs");
  if (!enumerator) return trace.Return(E_INVALIDARG);
  const bool hide = !Env().host || Env().host->HideArrayElements();
  try {
    *enumerator = TOPCStringsEnumerator::FromUtf8(FBrowse.Browse(SpaceOf(Env()), browseFilterType, hide)).Detach();
  } catch (const std::bad_alloc&) {
    return trace.Return(E_OUTOFMEMORY);
  }
  return trace.Return(S_OK);
}

HRESULT TDA2::GetItemID(OLECHAR* itemDataID, OLECHAR** itemID) {
  HRESULT hr = E_INVALIDARG;
  if (itemID) {
    *itemID = TaskStringUtf8(FBrowse.GetItemID(Utf16ToUtf8(OleView(itemDataID))));
    hr = *itemID ? S_OK : E_OUTOFMEMORY;
  }
  TraceLine(Env().Log(), "IOPCBrowseServerAddressSpace::GetItemID", hr);
  return hr;
}

HRESULT TDA2::BrowseAccessPaths(const OLECHAR* /*itemID*/, IEnumString** enumerator) {
  if (enumerator) *enumerator = nullptr;
  TraceLine(Env().Log(), "IOPCBrowseServerAddressSpace::BrowseAccessPaths", E_NOTIMPL);
  return E_NOTIMPL;
}
