#include "model/tag_table.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "model/norvo_model.h"
#include "model/norvo_var.h"
#include "model/qnet_socket.h"
#include "model/same_text.h"
#include "platform/date_time.h"

namespace {

int CompareText(const std::string& a, const std::string& b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const auto x = static_cast<unsigned char>(AsciiLower(a[i]));
    const auto y = static_cast<unsigned char>(AsciiLower(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

template <class T>
int Three(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

float RealOf(int32_t raw) {
  float f;
  static_assert(sizeof f == sizeof raw);
  std::memcpy(&f, &raw, sizeof f);
  return f;
}

// NaN sorts after every number and equal to another NaN, so the order stays
// consistent whatever a PLC sends.
int CompareNumbers(double a, double b) {
  const bool na = std::isnan(a), nb = std::isnan(b);
  if (na || nb) return na == nb ? 0 : (na ? 1 : -1);
  return Three(a, b);
}

int CompareValues(const TNorvoVar& a, const TNorvoVar& b) {
  const bool sa = a.FVarType == ntString, sb = b.FVarType == ntString;
  if (sa != sb) return sa ? 1 : -1;
  int r;
  if (sa) {
    r = CompareText(a.FStrValue, b.FStrValue);
  } else {
    const bool ra = a.FVarType == ntReal, rb = b.FVarType == ntReal;
    if (ra && rb) {
      r = CompareNumbers(RealOf(a.FValue), RealOf(b.FValue));
    } else if (ra || rb) {
      // A real meets an integer truncated; doubles hold both exactly.
      const double x = ra ? std::trunc(static_cast<double>(RealOf(a.FValue))) : a.FValue;
      const double y = rb ? std::trunc(static_cast<double>(RealOf(b.FValue))) : b.FValue;
      r = CompareNumbers(x, y);
    } else {
      r = Three(a.FValue, b.FValue);
    }
  }
  return r != 0 ? r : Three(a.FVarType, b.FVarType);
}

}  // namespace

// ---- texts ----------------------------------------------------------------

std::vector<int> PropertyTableColumns() { return {ckProperty, ckValueText, ckDescription}; }
std::vector<int> TagTableColumns() {
  return {ckStatus, ckTagName, ckType, ckQuality, ckTimestamp, ckValue, ckDescription};
}

const char* ColumnCaption(int Kind) {
  static const char* const captions[] = {"Property", "Value",     "Variable Name", "Tag Name",
                                         "Type",     "Quality",   "Timestamp",     "Value",
                                         "Status",   "Address",   "Description"};
  return Kind >= 0 && Kind <= ckDescription ? captions[Kind] : "-";
}

const char* TypeText(uint8_t Code) {
  static const char* const texts[] = {"bit",          "word",         "int",           "long",
                                      "real",         "string",       "array of bit",  "array of int",
                                      "array of long", "array of real"};
  return Code >= 1 && Code <= 10 ? texts[Code - 1] : "unknown";
}

std::string QualityText(uint16_t Quality) {
  const unsigned q = Quality & 0xFF;
  const unsigned status = q & ~3u;
  if (q < 64) {
    if (q >= 32) return "Bad";
    switch (status) {
      case 4: return "Bad, config error";
      case 8: return "Bad, not connected";
      case 12: return "Bad, device failure";
      case 16: return "Bad, sensor failure";
      case 20: return "Bad, last known";
      case 24: return "Bad, com failure";
      case 28: return "Bad, out of service";
      default: return "Bad";
    }
  }
  if (q < 128) {
    switch (status) {
      case 68: return "Uncertain, last usable";
      case 80: return "Uncertain, sensor cal";
      case 84: return "Uncertain, EGU exceeded";
      case 88: return "Uncertain, sub normal";
      default: return "Uncertain";
    }
  }
  if (q < 192) return "";
  return status == 216 ? "Good, local override" : "Good";
}

std::string AddressText(const TNorvoVar& Tag) {
  if (Tag.FIsSystem) return "System var";
  char buf[16];
  std::snprintf(buf, sizeof buf, "$%04X", static_cast<unsigned>(Tag.FAddress));
  return buf;
}

int StatusImage(const TNorvoVar& Tag) {
  if (Tag.FWritePending || Tag.FWriteRequest) return kImageWritePending;
  return Tag.FReadRequest ? kImageReadRequested : kImageIdle;
}

// ---- the table --------------------------------------------------------------

TTagTable::TTagTable(bool IsTagTable, std::vector<int> Kinds, const bool* HideArrayElements)
    : FIsTagTable(IsTagTable), FHideArrayElements(HideArrayElements) {
  SetColumns(std::move(Kinds));
}

TTagTable::~TTagTable() {
  for (const auto& row : FItems)
    if (row && row->FVar && row->FVar->FView == this) {
      row->FVar->FView = nullptr;
      row->FVar->FViewItem = nullptr;
    }
}

void TTagTable::SetColumns(std::vector<int> Kinds) {
  FColumns = std::move(Kinds);
  FSortColumn = -1;
  FSortDescending = false;
  const auto it = std::find(FColumns.begin(), FColumns.end(), ckProperty);
  if (it != FColumns.end()) FSortColumn = static_cast<int>(it - FColumns.begin());
}

void TTagTable::HeaderClick(size_t Column) {
  if (Column >= FColumns.size()) return;
  FSortColumn = static_cast<int>(Column);
  FSortDescending = false;
  Resort();
}

bool TTagTable::Hidden(const TNorvoVar& Tag) const {
  return Tag.FArrayHead && !FShowAllRows && FHideArrayElements && *FHideArrayElements;
}

TATreeItem& TTagTable::Append(std::unique_ptr<TATreeItem> Row, bool Shown) {
  TATreeItem& row = *Row;
  row.FSlot = FItems.size();
  FItems.push_back(std::move(Row));
  if (Shown) GiveNode(row);
  ++FLayoutVersion;
  return row;
}

void TTagTable::GiveNode(TATreeItem& Row) {
  if (Row.FNode != TATreeItem::kNoNode) return;
  Row.FNode = FNodes.size();
  FNodes.push_back(&Row);
}

void TTagTable::DropNode(TATreeItem& Row) {
  if (Row.FNode == TATreeItem::kNoNode) return;
  FNodes[Row.FNode] = nullptr;
  Row.FNode = TATreeItem::kNoNode;
  ++FNodeGaps;
}

TATreeItem& TTagTable::AddPropertyRow(std::string Caption) {
  auto row = std::make_unique<TATreeItem>();
  row->FCaption = std::move(Caption);
  return Append(std::move(row), true);
}

TATreeItem& TTagTable::AddTagRow(TNorvoVar& Tag) {
  if (TATreeItem* existing = FindRow(Tag)) return *existing;
  auto created = std::make_unique<TATreeItem>();
  created->FVar = &Tag;
  TATreeItem& row = Append(std::move(created), !Hidden(Tag));
  FRowOf.emplace(&Tag, &row);
  if (Tag.FView == this) Tag.FViewItem = &row;
  return row;
}

void TTagTable::RemoveTagRow(TNorvoVar& Tag, bool KeepSelection) {
  const auto it = FRowOf.find(&Tag);
  if (it == FRowOf.end()) return;
  TATreeItem& row = *it->second;
  if (!KeepSelection && row.FNode != TATreeItem::kNoNode) {
    TATreeItem* next = nullptr;
    for (size_t i = row.FNode + 1; i < FNodes.size() && !next; ++i) next = FNodes[i];
    for (size_t i = row.FNode; i-- > 0 && !next;) next = FNodes[i];
    if (next) {
      next->FSelected = true;
      FFocused = next;
    }
  }
  if (FFocused == &row) FFocused = nullptr;
  if (Tag.FView == this) Tag.FViewItem = nullptr;
  FRowOf.erase(it);
  DropNode(row);
  FItems[row.FSlot].reset();
  ++FItemGaps;
  ++FLayoutVersion;
  // Keeps memory bounded while rows go without anyone asking for positions.
  if (FItemGaps > 64 && FItemGaps > FItems.size() / 2) Compact();
}

TATreeItem* TTagTable::FindRow(const TNorvoVar& Tag) const {
  const auto it = FRowOf.find(&Tag);
  return it == FRowOf.end() ? nullptr : it->second;
}

void TTagTable::Compact() const {
  if (FItemGaps) {
    std::erase(FItems, nullptr);
    for (size_t i = 0; i < FItems.size(); ++i) FItems[i]->FSlot = i;
    FItemGaps = 0;
  }
  if (FNodeGaps) {
    std::erase(FNodes, nullptr);
    RenumberNodes(0, FNodes.size());
    FNodeGaps = 0;
  }
}

void TTagTable::RenumberNodes(size_t From, size_t To) const {
  for (size_t i = From; i < To; ++i) FNodes[i]->FNode = i;
}

size_t TTagTable::RowCount() const {
  Compact();
  return FNodes.size();
}

TATreeItem& TTagTable::Row(size_t Index) const {
  Compact();
  return *FNodes.at(Index);
}

size_t TTagTable::ItemCount() const {
  Compact();
  return FItems.size();
}

TATreeItem& TTagTable::Item(size_t Index) const {
  Compact();
  return *FItems.at(Index);
}

size_t TTagTable::RowIndex(const TATreeItem& Row) const {
  Compact();
  return Row.FNode;
}

void TTagTable::MoveRowTo(const TNorvoVar& Tag, size_t Position) {
  TATreeItem* row = FindRow(Tag);
  if (!row || row->FNode == TATreeItem::kNoNode) return;
  Compact();
  const size_t from = row->FNode;
  TATreeItem* target = Position < FNodes.size() ? FNodes[Position] : nullptr;
  if (target == row) return;
  FNodes.erase(FNodes.begin() + static_cast<ptrdiff_t>(from));
  size_t to = target ? target->FNode : FNodes.size();
  if (target && to > from) --to;  // the target slid up by one
  FNodes.insert(FNodes.begin() + static_cast<ptrdiff_t>(to), row);
  RenumberNodes(std::min(from, to), std::max(from, to) + 1);
  ++FLayoutVersion;
}

void TTagTable::Renumber() {
  Compact();
  const size_t lead = std::min(kRenumberedRows, FNodes.size());
  std::vector<std::unique_ptr<TATreeItem>> items;
  items.reserve(FItems.size());
  std::vector<bool> taken(FItems.size(), false);
  for (size_t i = 0; i < lead; ++i) {
    const size_t slot = FNodes[i]->FSlot;
    taken[slot] = true;
    items.push_back(std::move(FItems[slot]));
  }
  for (size_t i = 0; i < FItems.size(); ++i)
    if (!taken[i]) items.push_back(std::move(FItems[i]));
  FItems = std::move(items);
  for (size_t i = 0; i < FItems.size(); ++i) FItems[i]->FSlot = i;
  ++FLayoutVersion;
}

int TTagTable::CompareByKind(const TATreeItem& A, const TATreeItem& B, int Kind) const {
  switch (Kind) {
    case ckTimestamp:
      if (A.FVar && B.FVar) return CompareNumbers(A.FVar->FTimestamp, B.FVar->FTimestamp);
      break;
    case ckValue:
      if (A.FVar && B.FVar) return CompareValues(*A.FVar, *B.FVar);
      break;
    case ckStatus:
    case ckRowOrder:
      return Three(A.FSlot, B.FSlot);
    default:
      break;
  }
  return CompareText(CellText(A, Kind), CellText(B, Kind));
}

int TTagTable::CompareRows(const TATreeItem& A, const TATreeItem& B) const {
  if (FCompare) return FCompare(A, B);
  const int kind = FSortColumn >= 0 ? FColumns[static_cast<size_t>(FSortColumn)] : ckRowOrder;
  return CompareByKind(A, B, kind);
}

void TTagTable::SortNodes(const TRowComparer& Compare) {
  Compact();
  // Stable, so rows that compare equal keep their places relative to each
  // other; the comparer need not be a strict order.
  std::stable_sort(FNodes.begin(), FNodes.end(),
                   [&](const TATreeItem* a, const TATreeItem* b) { return Compare(*a, *b) < 0; });
  RenumberNodes(0, FNodes.size());
  ++FLayoutVersion;
}

void TTagTable::Resort() {
  FCompare = nullptr;
  const bool descending = FSortDescending && FSortColumn >= 0;
  const int kind = FSortColumn >= 0 ? FColumns[static_cast<size_t>(FSortColumn)] : ckRowOrder;
  if (kind == ckTimestamp || kind == ckValue || kind == ckStatus || kind == ckRowOrder) {
    SortNodes([this, kind, descending](const TATreeItem& a, const TATreeItem& b) {
      const int r = CompareByKind(a, b, kind);
      return descending ? -r : r;
    });
    return;
  }
  // Text rules: each cell's text is made once, not once per comparison.
  Compact();
  std::vector<std::pair<std::string, TATreeItem*>> keyed;
  keyed.reserve(FNodes.size());
  for (TATreeItem* row : FNodes) keyed.emplace_back(LowerText(CellText(*row, kind)), row);
  std::stable_sort(keyed.begin(), keyed.end(), [descending](const auto& a, const auto& b) {
    return descending ? b.first < a.first : a.first < b.first;
  });
  for (size_t i = 0; i < keyed.size(); ++i) FNodes[i] = keyed[i].second;
  RenumberNodes(0, FNodes.size());
  ++FLayoutVersion;
}

void TTagTable::SortWith(TRowComparer Compare) {
  FCompare = std::move(Compare);
  SortNodes([this](const TATreeItem& a, const TATreeItem& b) { return FCompare(a, b); });
  Renumber();
}

void TTagTable::ApplyHideArrayElements() {
  Compact();
  // New nodes go to the end; Resort then puts them where the order wants.
  for (const auto& row : FItems) {
    if (!row->FVar || !row->FVar->FArrayHead) continue;
    if (Hidden(*row->FVar)) {
      if (row->FNode != TATreeItem::kNoNode) {
        row->FSelected = false;
        if (FFocused == row.get()) FFocused = nullptr;
      }
      DropNode(*row);
    } else {
      GiveNode(*row);
    }
  }
  Resort();
}

void TTagTable::MoveSelected(bool Up) {
  if (!FIsTagTable) return;
  Compact();
  FSortColumn = -1;
  std::vector<size_t> picked;
  for (size_t i = 0; i < FNodes.size(); ++i)
    if (FNodes[i]->FSelected) picked.push_back(i);
  if (picked.empty()) return;
  if (Up ? picked.front() == 0 : picked.back() + 1 == FNodes.size()) return;
  if (Up) {
    for (size_t i : picked) std::swap(FNodes[i - 1], FNodes[i]);
    RenumberNodes(picked.front() - 1, picked.back() + 1);
  } else {
    for (auto it = picked.rbegin(); it != picked.rend(); ++it) std::swap(FNodes[*it], FNodes[*it + 1]);
    RenumberNodes(picked.front(), picked.back() + 2);
  }
  Renumber();
}

// ---- cells and selection ------------------------------------------------------

std::string TTagTable::CellText(const TATreeItem& Row, int Kind) const {
  TNorvoVar* tag = Row.FVar;
  if (!tag) {
    if (Kind == ckProperty) return Row.FCaption;
    if (Kind == ckValueText) return Row.FText;
    return "";
  }
  switch (Kind) {
    case ckProperty:
    case ckTagName: return tag->FItemID;
    case ckValueText:
    case ckValue: return tag->ValueText(true);
    case ckVariableName: return tag->FName;
    case ckType: return TypeText(tag->FVarType);
    case ckQuality: return QualityText(tag->GetQuality());
    case ckTimestamp: return FormatLongTime(tag->FTimestamp);
    case ckAddress: return AddressText(*tag);
    case ckDescription: return tag->FDescription;
    default: return "";
  }
}

int TTagTable::CellImage(const TATreeItem& Row, int Kind) const {
  return Kind == ckStatus && Row.FVar ? StatusImage(*Row.FVar) : -1;
}

void TTagTable::SelectRow(TATreeItem& Row) {
  Row.FSelected = true;
  FFocused = &Row;
}

void TTagTable::ClearSelection() {
  for (const auto& row : FItems)
    if (row) row->FSelected = false;
}

void TTagTable::SelectAll() {
  for (TATreeItem* row : FNodes)
    if (row) row->FSelected = true;
}

size_t TTagTable::SelectedCount() const {
  size_t n = 0;
  for (const TATreeItem* row : FNodes)
    if (row && row->FSelected) ++n;
  return n;
}

std::vector<TNorvoVar*> TTagTable::SelectedTags() const {
  std::vector<TNorvoVar*> out;
  for (const TATreeItem* row : FNodes)
    if (row && row->FSelected && row->FVar) out.push_back(row->FVar);
  return out;
}

TNorvoVar* TTagTable::FocusedTag() const { return FFocused && FFocused->FSelected ? FFocused->FVar : nullptr; }

// ---- owners -------------------------------------------------------------------

void AttachTable(TNorvoModel& PLC, TTagTable& Table) {
  PLC.FView = &Table;
  for (auto* list : {&PLC.FSysTags, &PLC.FTags})
    for (auto& tag : *list) {
      tag->FView = &Table;
      Table.AddTagRow(*tag);
    }
}

void AttachTable(TQNETSocket& Socket, TTagTable& Table) {
  Socket.FView = &Table;
  Table.FShowAllRows = true;
  for (TNorvoVar* tag : Socket.FTags) Table.AddTagRow(*tag);
}
