#include "model/preserve_color_and_order.h"

#include <unordered_map>

#include "model/norvo_model.h"
#include "model/norvo_var.h"
#include "model/qnet_socket.h"
#include "model/same_text.h"

namespace {

// The rows live in the engine's tables; a view of another kind keeps none.
TTagTable* TableOf(ITagTableView* View) { return dynamic_cast<TTagTable*>(View); }

using TagIndex = std::unordered_map<std::string_view, TNorvoVar*, CaseInsensitiveHash, CaseInsensitiveEqual>;

// The last tag of an item ID wins, as the PLC's own lookups answer.
TagIndex IndexByItemID(const std::vector<std::unique_ptr<TNorvoVar>>& Tags) {
  TagIndex index;
  index.reserve(Tags.size());
  for (const auto& t : Tags) index[t->FItemID] = t.get();
  return index;
}

TNorvoVar* Lookup(const TagIndex& Index, const std::string& ItemID) {
  const auto it = Index.find(std::string_view(ItemID));
  return it == Index.end() ? nullptr : it->second;
}

}  // namespace

TPreserveColorAndOrderOfProject SaveProjectLook(const std::vector<std::unique_ptr<TNorvoModel>>& PLCs,
                                                const TZeltaProject* Project, std::string FileName) {
  TPreserveColorAndOrderOfProject record;
  record.FFileName = std::move(FileName);
  for (const auto& plc : PLCs) {
    if (plc->FProject != Project) continue;
    TPreserveColorAndOrderNorvo& saved = record.FPLCs.emplace_back();
    saved.FPLCName = plc->FName;
    if (TTagTable* table = TableOf(plc->FView)) {
      saved.FRows.reserve(kSavedOrderRows + 4);
      const size_t count = table->ItemCount();
      for (size_t i = 0; i < count; ++i) {
        const TNorvoVar* tag = table->Item(i).FVar;
        if (!tag) continue;
        // Beyond the ordered rows only a colour is worth keeping.
        if (i >= kSavedOrderRows && tag->FColor == clNone) continue;
        saved.FRows.push_back({tag->FItemID, tag->FColor});
      }
    }
    for (const auto& socket : plc->FSockets) {
      TPreserveColorAndOrderSocket& s = saved.FSockets.emplace_back();
      s.FIsInput = socket->FIsInput;
      s.FNAD = socket->FNAD;
      if (TTagTable* table = TableOf(socket->FView)) {
        const size_t count = table->RowCount();
        for (size_t i = 0; i < count; ++i)
          if (const TNorvoVar* tag = table->Row(i).FVar) s.FItemIDs.push_back(tag->FItemID);
      }
    }
  }
  return record;
}

const TPreserveColorAndOrderNorvo* FindSavedPLC(const TPreserveColorAndOrderOfProject& Record,
                                                std::string_view PLCName) {
  for (auto it = Record.FPLCs.rbegin(); it != Record.FPLCs.rend(); ++it)
    if (SameText(it->FPLCName, PLCName)) return &*it;
  return nullptr;
}

void RestorePLCLook(const TPreserveColorAndOrderNorvo& Saved, TNorvoModel& PLC) {
  TTagTable* table = TableOf(PLC.FView);
  const TagIndex tags = IndexByItemID(PLC.FTags);
  const TagIndex sysTags = IndexByItemID(PLC.FSysTags);
  for (size_t i = 0; i < Saved.FRows.size(); ++i) {
    const TSavedRow& row = Saved.FRows[i];
    TNorvoVar* tag = Lookup(tags, row.FItemID);
    if (!tag) tag = Lookup(sysTags, row.FItemID);
    if (!tag) continue;
    // System tag rows move too, so a system tag the operator placed among
    // the others keeps its place.
    if (table && i < kRenumberedRows) table->MoveRowTo(*tag, i);
    tag->FColor = row.FColor;
  }
  if (table) table->Renumber();

  for (const TPreserveColorAndOrderSocket& s : Saved.FSockets) {
    const TQNETSocket* socket = PLC.FindSocket(s.FIsInput, s.FNAD);
    if (!socket) continue;
    if (TTagTable* socketTable = TableOf(socket->FView)) socketTable->SortWith(CompareBySavedOrder(s));
  }
}

void RestoreProjectLook(const TPreserveColorAndOrderOfProject& Record,
                        const std::vector<std::unique_ptr<TNorvoModel>>& PLCs, const TZeltaProject* Project) {
  for (const auto& plc : PLCs) {
    if (plc->FProject != Project) continue;
    if (const TPreserveColorAndOrderNorvo* saved = FindSavedPLC(Record, plc->FName)) RestorePLCLook(*saved, *plc);
  }
}

namespace {

constexpr size_t kUnknownPlace = static_cast<size_t>(-1);

struct TSavedPlaces {
  std::unordered_map<std::string, size_t, CaseInsensitiveHash, CaseInsensitiveEqual> byID;
  // Each tag's place, looked up by its text once per sort, not per comparison.
  std::unordered_map<const TNorvoVar*, size_t> byTag;

  size_t Of(const TNorvoVar& Tag) {
    const auto [it, added] = byTag.try_emplace(&Tag, kUnknownPlace);
    if (added) {
      const auto found = byID.find(std::string_view(Tag.FItemID));
      if (found != byID.end()) it->second = found->second;
    }
    return it->second;
  }
};

}  // namespace

TRowComparer CompareBySavedOrder(const TPreserveColorAndOrderSocket& Saved) {
  auto places = std::make_shared<TSavedPlaces>();
  places->byID.reserve(Saved.FItemIDs.size());
  // The first place of an ID counts, as a search from the top would find.
  for (size_t i = 0; i < Saved.FItemIDs.size(); ++i) places->byID.emplace(Saved.FItemIDs[i], i);
  return [places](const TATreeItem& A, const TATreeItem& B) {
    if (!A.FVar || !B.FVar) return 0;
    const size_t a = places->Of(*A.FVar);
    const size_t b = places->Of(*B.FVar);
    if (a == kUnknownPlace || b == kUnknownPlace) return 0;
    return a < b ? -1 : (a > b ? 1 : 0);
  };
}
