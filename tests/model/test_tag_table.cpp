// Tag tables: texts, the comparison rules, sorting, hidden array elements,
// moving rows and the operator's order kept in FItems.
#include "model/tag_table.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "fakes/fake_tag_environment.h"
#include "model/norvo_model.h"
#include "model/orphan_list.h"

namespace {

int32_t RealRaw(float f) {
  int32_t raw;
  std::memcpy(&raw, &f, sizeof raw);
  return raw;
}

int Sign(int v) { return (v > 0) - (v < 0); }

class TagTableTest : public ::testing::Test {
 protected:
  TNorvoVar& Tag(const std::string& id, uint8_t type = ntLong, int32_t value = 0) {
    auto t = std::make_unique<TNorvoVar>(nullptr, id);
    t->FItemID = id;
    t->FVarType = type;
    t->FValue = value;
    t->FValid = true;
    tags.push_back(std::move(t));
    return *tags.back();
  }
  // Item IDs of the shown rows, display order.
  static std::vector<std::string> Shown(const TTagTable& table) {
    std::vector<std::string> out;
    for (size_t i = 0; i < table.RowCount(); ++i) {
      const TATreeItem& r = table.Row(i);
      out.push_back(r.FVar ? r.FVar->FItemID : r.FCaption);
    }
    return out;
  }
  static std::vector<std::string> Items(const TTagTable& table) {
    std::vector<std::string> out;
    for (size_t i = 0; i < table.ItemCount(); ++i) out.push_back(table.Item(i).FVar->FItemID);
    return out;
  }
  TTagTable& Table(std::initializer_list<const char*> ids) {
    for (const char* id : ids) table.AddTagRow(Tag(id));
    return table;
  }

  FakeTagEnvironment env;
  bool hide = true;
  std::vector<std::unique_ptr<TNorvoVar>> tags;
  TTagTable table{true, TagTableColumns(), &hide};
};

TEST(TagTableTexts, CaptionsTypesQualitiesAddressesAndStatus) {
  std::vector<std::string> captions;
  for (int kind : TagTableColumns()) captions.push_back(ColumnCaption(kind));
  EXPECT_EQ(captions, (std::vector<std::string>{"Status", "Tag Name", "Type", "Quality", "Timestamp", "Value",
                                                "Description"}));
  EXPECT_STREQ(ColumnCaption(2), "Variable Name");
  EXPECT_STREQ(ColumnCaption(12), "-");
  EXPECT_STREQ(TypeText(1), "bit");
  EXPECT_STREQ(TypeText(10), "array of real");
  EXPECT_STREQ(TypeText(0), "unknown");
  EXPECT_STREQ(TypeText(11), "unknown");

  const struct {
    uint16_t q;
    const char* text;
  } qualities[] = {{0x44, "Uncertain, last usable"}, {0xD8, "Good, local override"}, {0x1C, "Bad, out of service"},
                   {0x40, "Uncertain"},              {0x90, ""},                     {0x04, "Bad, config error"},
                   {0x07, "Bad, config error"},      {0x00, "Bad"},                  {0x20, "Bad"},
                   {0x14, "Bad, last known"},        {0x53, "Uncertain, sensor cal"}, {0x58, "Uncertain, sub normal"},
                   {0x54, "Uncertain, EGU exceeded"}, {0xC0, "Good"},                {0xDB, "Good, local override"}};
  for (const auto& c : qualities) EXPECT_EQ(QualityText(c.q), c.text) << c.q;

  FakeTagEnvironment env;
  TNorvoVar tag(nullptr, "x");
  tag.FAddress = 18;
  EXPECT_EQ(AddressText(tag), "$0012");
  tag.FAddress = 0x12345;
  EXPECT_EQ(AddressText(tag), "$12345");
  tag.FIsSystem = true;
  EXPECT_EQ(AddressText(tag), "System var");

  EXPECT_EQ(StatusImage(tag), kImageIdle);
  tag.FReadRequest = true;
  EXPECT_EQ(StatusImage(tag), kImageReadRequested);
  tag.FWritePending = true;
  EXPECT_EQ(StatusImage(tag), kImageWritePending);
}

TEST_F(TagTableTest, CellsOfTagAndPropertyRows) {
  TNorvoVar& t = Tag("U.1.Motor", ntInt, 42);
  t.FDescription = "pump motor";
  TATreeItem& row = table.AddTagRow(t);
  EXPECT_EQ(table.CellText(row, ckTagName), "U.1.Motor");
  EXPECT_EQ(table.CellText(row, ckProperty), "U.1.Motor");
  EXPECT_EQ(table.CellText(row, ckType), "int");
  EXPECT_EQ(table.CellText(row, ckValue), t.ValueText(true));
  EXPECT_EQ(table.CellText(row, ckDescription), "pump motor");
  EXPECT_EQ(table.CellText(row, ckStatus), "");
  EXPECT_EQ(table.CellImage(row, ckStatus), kImageIdle);
  EXPECT_EQ(table.CellImage(row, ckType), -1);

  TTagTable props(false, PropertyTableColumns());
  TATreeItem& p = props.AddPropertyRow("Refresh count");
  p.FText = "3";
  EXPECT_EQ(props.CellText(p, ckProperty), "Refresh count");
  EXPECT_EQ(props.CellText(p, ckValueText), "3");
  EXPECT_EQ(props.CellText(p, ckDescription), "");
  EXPECT_EQ(props.SortColumn(), 0);  // the kind-0 column sorts
  EXPECT_EQ(table.SortColumn(), -1);
}

TEST_F(TagTableTest, ValueComparison) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const struct {
    uint8_t ta;
    int32_t a;
    const char* sa;
    uint8_t tb;
    int32_t b;
    const char* sb;
    int expected;
  } cases[] = {
      {ntInt, 5, "", ntInt, -3, "", 1},
      {ntLong, INT32_MIN, "", ntLong, INT32_MAX, "", -1},  // no overflow
      {ntReal, RealRaw(1.9f), "", ntLong, 2, "", -1},      // real truncated against an integer
      {ntReal, RealRaw(-2.7f), "", ntLong, -2, "", 1},     // toward zero
      {ntReal, RealRaw(2.5f), "", ntInt, 2, "", 1},        // equal values: by type code
      {ntReal, RealRaw(1.5f), "", ntReal, RealRaw(1.25f), "", 1},
      {ntReal, RealRaw(-1.0f), "", ntReal, RealRaw(0.5f), "", -1},  // not as raw bits
      {ntReal, RealRaw(nan), "", ntReal, RealRaw(1e30f), "", 1},
      {ntReal, RealRaw(nan), "", ntLong, INT32_MAX, "", 1},
      {ntString, 0, "abc", ntLong, 99, "", 1},  // strings last
      {ntString, 0, "abc", ntString, 0, "ABD", -1},
      {ntString, 0, "Abc", ntString, 0, "aBC", 0},
      {ntWord, 65535, "", ntInt, -1, "", 1},
      {ntBit, 1, "", ntWord, 1, "", -1},
  };
  for (const auto& c : cases) {
    TNorvoVar& a = Tag("a", c.ta, c.a);
    a.FStrValue = c.sa;
    TNorvoVar& b = Tag("b", c.tb, c.b);
    b.FStrValue = c.sb;
    TATreeItem& ra = table.AddTagRow(a);
    TATreeItem& rb = table.AddTagRow(b);
    EXPECT_EQ(Sign(table.CompareByKind(ra, rb, ckValue)), c.expected) << int(c.ta) << " " << c.a << " " << c.sa;
    EXPECT_EQ(Sign(table.CompareByKind(rb, ra, ckValue)), -c.expected);
    table.RemoveTagRow(a, true);
    table.RemoveTagRow(b, true);
  }
}

TEST_F(TagTableTest, HeaderSortsByColumnAndStatusGivesTheOperatorOrderBack) {
  Tag("U.1.c", ntLong, 10).FTimestamp = 3;
  Tag("U.1.B", ntReal, RealRaw(2.5f)).FTimestamp = 1;
  Tag("U.1.a", ntString).FStrValue = "zz";
  Tag("U.1.d", ntInt, -4).FTimestamp = 2;
  for (auto& t : tags) table.AddTagRow(*t);

  table.HeaderClick(1);  // Tag Name: text, case ignored
  EXPECT_EQ(Shown(table), (std::vector<std::string>{"U.1.a", "U.1.B", "U.1.c", "U.1.d"}));
  table.HeaderClick(5);  // Value: numeric, strings last
  EXPECT_EQ(Shown(table), (std::vector<std::string>{"U.1.d", "U.1.B", "U.1.c", "U.1.a"}));
  table.HeaderClick(4);  // Timestamp
  EXPECT_EQ(Shown(table), (std::vector<std::string>{"U.1.a", "U.1.B", "U.1.d", "U.1.c"}));
  table.HeaderClick(0);  // Status: the order rows were added in
  EXPECT_EQ(Shown(table), (std::vector<std::string>{"U.1.c", "U.1.B", "U.1.a", "U.1.d"}));
  table.HeaderClick(99);  // no such column: nothing
  EXPECT_EQ(table.SortColumn(), 0);
}

TEST_F(TagTableTest, ArrayElementRowsFollowTheOptionExceptInSocketTables) {
  TNorvoVar& head = Tag("U.1.arr", ntIntArray);
  TNorvoVar& e0 = Tag("U.1.arr[0]", ntInt);
  TNorvoVar& e1 = Tag("U.1.arr[1]", ntInt);
  TNorvoVar& other = Tag("U.1.x");
  e0.FArrayHead = e1.FArrayHead = &head;
  TTagTable socket(true, TagTableColumns(), &hide);
  socket.FShowAllRows = true;
  for (TNorvoVar* t : {&head, &e0, &e1, &other}) {
    table.AddTagRow(*t);
    socket.AddTagRow(*t);
  }
  EXPECT_EQ(Shown(table), (std::vector<std::string>{"U.1.arr", "U.1.x"}));
  EXPECT_EQ(table.ItemCount(), 4u);
  EXPECT_EQ(table.RowIndex(*table.FindRow(e0)), TATreeItem::kNoNode);
  EXPECT_EQ(socket.RowCount(), 4u);

  // A hidden row cannot be moved to a place.
  table.MoveRowTo(e1, 0);
  EXPECT_EQ(Shown(table), (std::vector<std::string>{"U.1.arr", "U.1.x"}));

  hide = false;
  table.ApplyHideArrayElements();  // no sort column: back in FItems order
  EXPECT_EQ(Shown(table), (std::vector<std::string>{"U.1.arr", "U.1.arr[0]", "U.1.arr[1]", "U.1.x"}));
  table.SelectRow(*table.FindRow(e0));
  hide = true;
  table.ApplyHideArrayElements();
  EXPECT_EQ(Shown(table), (std::vector<std::string>{"U.1.arr", "U.1.x"}));
  EXPECT_EQ(table.SelectedCount(), 0u);
  EXPECT_EQ(table.FocusedTag(), nullptr);
}

TEST_F(TagTableTest, AddingTwiceGivesOneRowAndRemovingMovesTheSelection) {
  Table({"a", "b", "c"});
  EXPECT_EQ(&table.AddTagRow(*tags[1]), table.FindRow(*tags[1]));
  EXPECT_EQ(table.RowCount(), 3u);

  table.SelectRow(*table.FindRow(*tags[1]));
  table.RemoveTagRow(*tags[1], false);
  EXPECT_EQ(table.FocusedTag(), tags[2].get());  // the next row
  table.RemoveTagRow(*tags[2], false);
  EXPECT_EQ(table.FocusedTag(), tags[0].get());  // the last went: the previous
  table.RemoveTagRow(*tags[0], true);
  EXPECT_EQ(table.FocusedTag(), nullptr);
  EXPECT_EQ(table.RowCount(), 0u);
  EXPECT_EQ(table.FindRow(*tags[0]), nullptr);
  table.RemoveTagRow(*tags[0], false);  // no row: nothing
}

TEST_F(TagTableTest, ManyRemovalsKeepPositionsRight) {
  for (int i = 0; i < 1000; ++i) table.AddTagRow(Tag("t" + std::to_string(i)));
  for (int i = 0; i < 1000; i += 2) table.RemoveTagRow(*tags[static_cast<size_t>(i)], true);
  ASSERT_EQ(table.RowCount(), 500u);
  for (size_t i = 0; i < 500; ++i) {
    EXPECT_EQ(table.Row(i).FVar, tags[2 * i + 1].get());
    EXPECT_EQ(table.RowIndex(table.Row(i)), i);
  }
  table.MoveRowTo(*tags[999], 0);
  EXPECT_EQ(table.Row(0).FVar, tags[999].get());
  EXPECT_EQ(table.Row(1).FVar, tags[1].get());
}

TEST_F(TagTableTest, MoveRowToPlacesBeforeTheRowNowThere) {
  const struct {
    const char* tag;
    size_t position;
    std::vector<std::string> expected;
  } cases[] = {
      {"d", 1, {"a", "d", "b", "c", "e"}},
      {"a", 3, {"b", "c", "a", "d", "e"}},  // before "d", which was at 3
      {"b", 1, {"a", "b", "c", "d", "e"}},  // already there
      {"b", 9, {"a", "c", "d", "e", "b"}},  // past the end: last
      {"x", 0, {"a", "b", "c", "d", "e"}},  // no row: nothing
  };
  for (const auto& c : cases) {
    TTagTable t(true, TagTableColumns());
    for (const char* id : {"a", "b", "c", "d", "e"}) t.AddTagRow(Tag(id));
    TNorvoVar& x = Tag("x");
    TNorvoVar* moved = &x;
    for (size_t i = 0; i < t.RowCount(); ++i)
      if (t.Row(i).FVar->FItemID == c.tag) moved = t.Row(i).FVar;
    t.MoveRowTo(*moved, c.position);
    EXPECT_EQ(Shown(t), c.expected) << c.tag << " to " << c.position;
  }
}

TEST_F(TagTableTest, RenumberLeadsFItemsWithTheFirstShownRowsOnly) {
  const size_t n = kRenumberedRows + 5;
  for (size_t i = 0; i < n; ++i) table.AddTagRow(Tag(std::to_string(1000 + i)));
  // Reverse display order.
  table.SortWith([](const TATreeItem& a, const TATreeItem& b) { return -a.FVar->FItemID.compare(b.FVar->FItemID); });
  EXPECT_EQ(table.Row(0).FVar->FItemID, std::to_string(1000 + n - 1));
  const std::vector<std::string> items = Items(table);
  for (size_t i = 0; i < kRenumberedRows; ++i) EXPECT_EQ(items[i], table.Row(i).FVar->FItemID);
  // The five rows not led keep their old order behind.
  EXPECT_EQ(std::vector<std::string>(items.begin() + kRenumberedRows, items.end()),
            (std::vector<std::string>{"1000", "1001", "1002", "1003", "1004"}));
  // Sorting by status now follows FItems, not the comparer.
  table.HeaderClick(0);
  EXPECT_EQ(Shown(table), items);
}

TEST_F(TagTableTest, MoveSelected) {
  Table({"a", "b", "c", "d", "e"});
  table.HeaderClick(1);
  table.SelectRow(*table.FindRow(*tags[1]));
  table.SelectRow(*table.FindRow(*tags[3]));
  table.MoveSelected(true);
  EXPECT_EQ(Shown(table), (std::vector<std::string>{"b", "a", "d", "c", "e"}));
  EXPECT_EQ(table.SortColumn(), -1);
  EXPECT_EQ(Items(table), Shown(table));
  table.MoveSelected(true);  // "b" is first now: nothing moves
  EXPECT_EQ(Shown(table), (std::vector<std::string>{"b", "a", "d", "c", "e"}));
  table.MoveSelected(false);
  table.MoveSelected(false);
  EXPECT_EQ(Shown(table), (std::vector<std::string>{"a", "c", "b", "e", "d"}));
  table.MoveSelected(false);  // "d" is last
  EXPECT_EQ(Shown(table), (std::vector<std::string>{"a", "c", "b", "e", "d"}));
  EXPECT_EQ(table.SelectedTags(), (std::vector<TNorvoVar*>{tags[1].get(), tags[3].get()}));

  TTagTable props(false, PropertyTableColumns());
  TATreeItem& p0 = props.AddPropertyRow("p0");
  props.AddPropertyRow("p1");
  props.SelectRow(p0);
  props.MoveSelected(false);  // property tables do not move
  EXPECT_EQ(Shown(props), (std::vector<std::string>{"p0", "p1"}));
}

class OrphanSink final : public IOrphanList {
 public:
  std::unique_ptr<TNorvoVar> TakeOrphan(std::string_view) override { return nullptr; }
  void AddOrphan(std::unique_ptr<TNorvoVar> Tag) override { tags.push_back(std::move(Tag)); }
  std::vector<std::unique_ptr<TNorvoVar>> tags;
};

TEST_F(TagTableTest, OwnersAddAndDropRows) {
  OrphanSink orphans;
  TNorvoModel plc(nullptr, "P", "U", 7, "U.7", &orphans);
  auto plcTable = std::make_unique<TTagTable>(true, TagTableColumns(), &hide);
  AttachTable(plc, *plcTable);
  EXPECT_EQ(plcTable->RowCount(), plc.FSysTags.size());
  TNorvoVar& motor = plc.AddTag(std::make_unique<TNorvoVar>(&plc, "Motor"));
  EXPECT_EQ(motor.FView, plcTable.get());
  EXPECT_EQ(motor.FViewItem, plcTable->FindRow(motor));

  auto& socket = *plc.FSockets.emplace_back(std::make_unique<TQNETSocket>(true, 3));
  TTagTable socketTable(true, TagTableColumns(), &hide);
  AttachTable(socket, socketTable);
  socket.AddTag(motor);
  ASSERT_NE(socketTable.FindRow(motor), nullptr);
  EXPECT_EQ(motor.FView, plcTable.get());  // the PLC's table stays the tag's own

  plc.OrphanTag(&motor);
  EXPECT_EQ(plcTable->FindRow(motor), nullptr);
  EXPECT_EQ(socketTable.FindRow(motor), nullptr);
  EXPECT_EQ(motor.FView, nullptr);

  // A table going away leaves no tag pointing at it.
  TNorvoVar& pump = plc.AddTag(std::make_unique<TNorvoVar>(&plc, "Pump"));
  plcTable.reset();
  plc.FView = nullptr;
  EXPECT_EQ(pump.FView, nullptr);
  EXPECT_EQ(pump.FViewItem, nullptr);
  EXPECT_EQ(plc.FSysNad->FView, nullptr);
}

}  // namespace
