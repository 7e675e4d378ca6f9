// The engine side of a tag table: its rows in display order, the operator's
// row order (FItems), the columns with their texts and the sort rules. The
// window draws it; nothing here needs a widget.
//
// Two orders are kept. FItems holds every row in the operator's order;
// sorting by a column reorders only the shown rows, so sorting by "Status"
// gives the operator's order back. Array-element rows may be hidden: they
// stay in FItems but have no place among the shown rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/colors.h"
#include "model/tag_view.h"

class TNorvoVar;

// Column kinds; a column's kind gives its caption, texts, sort rule and the
// setting that keeps its width (kIdColumnWidthBase + kind).
inline constexpr int ckProperty = 0;
inline constexpr int ckValueText = 1;
inline constexpr int ckVariableName = 2;
inline constexpr int ckTagName = 3;
inline constexpr int ckType = 4;
inline constexpr int ckQuality = 5;
inline constexpr int ckTimestamp = 6;
inline constexpr int ckValue = 7;
inline constexpr int ckStatus = 8;
inline constexpr int ckAddress = 9;
inline constexpr int ckDescription = 10;
inline constexpr int ckRowOrder = 11;  // the rule used while no column sorts

// Status images of ilIcons.
inline constexpr int kImageReadRequested = 23;
inline constexpr int kImageIdle = 24;
inline constexpr int kImageWritePending = 25;

// Renumber keeps only this many leading rows of FItems in display order; the
// saved order of a reload is restored for as many.
inline constexpr size_t kRenumberedRows = 300;

// Column sets of the owners' tables.
std::vector<int> PropertyTableColumns();  // server and projects
std::vector<int> TagTableColumns();       // PLCs, sockets and monitors

const char* ColumnCaption(int Kind);
// "bit" … "array of real" by type code, else "unknown".
const char* TypeText(uint8_t Code);
// The text of an OPC quality; only its low byte counts.
std::string QualityText(uint16_t Quality);
// "System var" for a system tag, else "$" and at least four hex digits.
std::string AddressText(const TNorvoVar& Tag);
// Write not yet acknowledged wins over a read request.
int StatusImage(const TNorvoVar& Tag);

class TATreeItem {
 public:
  static constexpr size_t kNoNode = static_cast<size_t>(-1);

  std::string FCaption;  // property rows only
  std::string FText;     // property rows only
  TNorvoVar* FVar = nullptr;  // tag rows only; not owned
  // Slot of the row among the shown rows; kNoNode while hidden. A slot is a
  // position once the table has dropped the gaps left by removed rows.
  size_t FNode = kNoNode;
  bool FSelected = false;

 private:
  friend class TTagTable;
  size_t FSlot = 0;  // slot in FItems
};

// Negative, zero or positive like a three-way comparison.
using TRowComparer = std::function<int(const TATreeItem&, const TATreeItem&)>;

class TTagTable : public ITagTableView {
 public:
  // HideArrayElements is the operator's option (not owned, may be null for
  // "show all"); it must outlive the table.
  TTagTable(bool IsTagTable, std::vector<int> Kinds, const bool* HideArrayElements = nullptr);
  // Tags that name this table as theirs forget it.
  ~TTagTable() override;
  TTagTable(const TTagTable&) = delete;
  TTagTable& operator=(const TTagTable&) = delete;

  // ITagTableView: the model adds and drops rows; the selection stays.
  void AddRow(TNorvoVar& Tag) override { AddTagRow(Tag); }
  void RemoveRow(TNorvoVar& Tag) override { RemoveTagRow(Tag, true); }
  void MarkReceived(bool Ok) override {
    if (FOnReceived) FOnReceived(Ok);
  }

  // One column per kind; a kind-0 column becomes the ascending sort column.
  void SetColumns(std::vector<int> Kinds);
  const std::vector<int>& Columns() const { return FColumns; }
  // Index into Columns(), or -1 when no column sorts.
  int SortColumn() const { return FSortColumn; }
  bool SortDescending() const { return FSortDescending; }
  // Drops the sort column (no glyph) without moving rows.
  void ClearSortColumn() { FSortColumn = -1; }
  // The header: the column sorts ascending and the rows follow.
  void HeaderClick(size_t Column);

  TATreeItem& AddPropertyRow(std::string Caption);
  // The tag's row; created (at the end) if the table has none.
  TATreeItem& AddTagRow(TNorvoVar& Tag);
  // Unless KeepSelection, the next shown row (or the previous one when it
  // was the last) becomes selected and focused first.
  void RemoveTagRow(TNorvoVar& Tag, bool KeepSelection);
  TATreeItem* FindRow(const TNorvoVar& Tag) const;
  // Moves the tag's shown row before the row now at Position (zero-based
  // among the shown rows; at the end when there is none). Nothing happens
  // for a tag without a row or with a hidden one.
  void MoveRowTo(const TNorvoVar& Tag, size_t Position);
  // Sorts by the sort column and direction.
  void Resort();
  // Sorts by Compare instead of the columns, then Renumber.
  void SortWith(TRowComparer Compare);
  // The first kRenumberedRows shown rows become the first rows of FItems,
  // in display order; the others keep their order behind them.
  void Renumber();
  // Hides or shows array-element rows by the option, then Resort.
  void ApplyHideArrayElements();
  // Selected rows move one place up or down (none when the first, or the
  // last, is among them); the sort column is cleared; Renumber.
  void MoveSelected(bool Up);

  // The comparison of two rows under the current sort column (FCompare when
  // set), ascending.
  int CompareRows(const TATreeItem& A, const TATreeItem& B) const;
  int CompareByKind(const TATreeItem& A, const TATreeItem& B, int Kind) const;

  // Shown rows in display order.
  size_t RowCount() const;
  TATreeItem& Row(size_t Index) const;
  // Every row in the operator's order.
  size_t ItemCount() const;
  TATreeItem& Item(size_t Index) const;
  // Position among the shown rows; kNoNode when hidden.
  size_t RowIndex(const TATreeItem& Row) const;

  std::string CellText(const TATreeItem& Row, int Kind) const;
  // Status image of a tag row in a kind-8 column, else -1.
  int CellImage(const TATreeItem& Row, int Kind) const;

  void SelectRow(TATreeItem& Row);
  void ClearSelection();
  void SelectAll();
  size_t SelectedCount() const;
  // Tags of the selected rows, in display order.
  std::vector<TNorvoVar*> SelectedTags() const;
  // The focused row's tag when that row is selected.
  TNorvoVar* FocusedTag() const;

  // The comparer that replaces the column rule while set.
  TRowComparer FCompare;
  bool FIsTagTable;
  // Socket tables show array-element rows whatever the option says.
  bool FShowAllRows = false;
  TATreeItem* FFocused = nullptr;  // not owned; one of the rows
  // Moves on with every change of rows or their order, so the grid knows
  // when to re-read the table.
  uint64_t FLayoutVersion = 0;
  std::function<void(bool)> FOnReceived;

 private:
  bool Hidden(const TNorvoVar& Tag) const;
  TATreeItem& Append(std::unique_ptr<TATreeItem> Row, bool Shown);
  void DropNode(TATreeItem& Row);
  void GiveNode(TATreeItem& Row);
  void Compact() const;
  void SortNodes(const TRowComparer& Compare);
  void RenumberNodes(size_t From, size_t To) const;

  std::vector<int> FColumns;
  int FSortColumn = -1;
  bool FSortDescending = false;
  const bool* FHideArrayElements;  // not owned
  // Both lists leave null gaps where rows were removed, so that removing
  // many rows one by one stays linear; Compact closes them before any
  // position is used. FItems owns the rows.
  mutable std::vector<std::unique_ptr<TATreeItem>> FItems;
  mutable std::vector<TATreeItem*> FNodes;
  mutable size_t FItemGaps = 0;
  mutable size_t FNodeGaps = 0;
  std::unordered_map<const TNorvoVar*, TATreeItem*> FRowOf;
};

// Gives a PLC or socket its table and rows for the tags it already lists
// (a PLC's system tags, then its tags). The owner's FView must be null.
class TNorvoModel;
class TQNETSocket;
void AttachTable(TNorvoModel& PLC, TTagTable& Table);
void AttachTable(TQNETSocket& Socket, TTagTable& Table);
