// Colours and row order of the tag tables survive the reload of a project
// whose files changed; matching is by PLC name, item ID and socket identity.
#include "model/preserve_color_and_order.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/project_set_support.h"
#include "model/tag_table.h"

namespace {

// The window's part: a table for every PLC and socket, dropped with them.
class TableHooks final : public IProjectSetHooks {
 public:
  void PLCCreated(TNorvoModel& PLC) override {
    auto& t = tables[&PLC] = std::make_unique<TTagTable>(true, TagTableColumns(), &hide);
    AttachTable(PLC, *t);
  }
  void SocketCreated(TQNETSocket& Socket) override {
    auto& t = tables[&Socket] = std::make_unique<TTagTable>(true, TagTableColumns(), &hide);
    AttachTable(Socket, *t);
  }
  void PLCRemoving(TNorvoModel& PLC) override {
    for (auto& s : PLC.FSockets) {
      s->FView = nullptr;
      tables.erase(s.get());
    }
    PLC.FView = nullptr;
    tables.erase(&PLC);
  }
  bool hide = true;
  std::map<const void*, std::unique_ptr<TTagTable>> tables;
};

std::vector<std::string> Vars(const std::vector<std::string>& names) {
  std::vector<std::string> out;
  for (const auto& n : names) out.push_back("long " + n);
  return out;
}

std::vector<std::string> Shown(const TTagTable& table) {
  std::vector<std::string> out;
  for (size_t i = 0; i < table.RowCount(); ++i) out.push_back(table.Row(i).FVar->FItemID);
  return out;
}

class PreserveLookTest : public ProjectSetTest {
 protected:
  // The set calls the hooks while it goes, so it must go before them.
  ~PreserveLookTest() override { set.reset(); }

  TOPCProject& LoadWithTables(const std::vector<TestProgram>& programs) {
    file = WriteProject(tmp.Path(), "plant", programs);
    set = std::make_unique<TOPCProject>(TProjectSetContext{applied, boxes, clock, nullptr, &tableHooks});
    set->FProjectFiles = {file};
    set->Reload(false);
    return *set;
  }
  void Rewrite(const std::vector<TestProgram>& programs) {
    WriteProject(tmp.Path(), "plant", programs);
    Touch(file);
    set->Reload(true);
  }
  TNorvoModel& PLC() { return *set->FPLCs.at(0); }
  TTagTable& PLCTable() { return *tableHooks.tables.at(&PLC()); }
  TTagTable& SocketTable(size_t i) { return *tableHooks.tables.at(PLC().FSockets.at(i).get()); }

  TableHooks tableHooks;
  std::string file;
};

TEST_F(PreserveLookTest, ColoursAndOrderComeBackAndARenamedTagFallsBack) {
  LoadWithTables({TestProgram("U", {5}, "", Vars({"A", "B", "C", "D"}))});
  TTagTable& table = PLCTable();
  const size_t sys = PLC().FSysTags.size();
  PLC().FindTag("B")->FColor = 0x0000FF;
  PLC().FindTag("C")->FColor = 0xFF0000;
  PLC().FSysNad->FColor = 0x00FF00;
  table.MoveRowTo(*PLC().FindTag("D"), 0);  // the operator drags D to the top
  table.Renumber();

  Rewrite({TestProgram("U", {5}, "", Vars({"A", "B", "C2", "D"}))});
  TTagTable& fresh = PLCTable();
  const std::vector<std::string> shown = Shown(fresh);
  EXPECT_EQ(shown.front(), "U.5.D");
  EXPECT_EQ(std::vector<std::string>(shown.end() - 3, shown.end()),
            (std::vector<std::string>{"U.5.A", "U.5.B", "U.5.C2"}));
  EXPECT_EQ(shown.size(), sys + 4);
  EXPECT_EQ(PLC().FindTag("B")->FColor, 0x0000FF);
  EXPECT_EQ(PLC().FindTag("C2")->FColor, clNone);
  EXPECT_EQ(PLC().FindTag("A")->FColor, clNone);
  EXPECT_EQ(PLC().FSysNad->FColor, 0x00FF00);
  // FItems follows the restored order.
  EXPECT_EQ(fresh.Item(0).FVar->FItemID, "U.5.D");
}

TEST_F(PreserveLookTest, OnlyTheLeadingRowsAreReorderedButEveryColourReturns) {
  std::vector<std::string> names;
  for (int i = 0; i < 1100; ++i) names.push_back("V" + std::to_string(1000 + i));
  LoadWithTables({TestProgram("U", {5}, "", Vars(names))});
  TTagTable& table = PLCTable();
  for (size_t i = 0; i < PLC().FTags.size(); ++i) PLC().FTags[i]->FColor = static_cast<TColor>(i + 1);
  // The operator's order: reversed.
  table.SortWith([](const TATreeItem& a, const TATreeItem& b) { return -a.FVar->FItemID.compare(b.FVar->FItemID); });
  const std::vector<std::string> before = Shown(table);

  Rewrite({TestProgram("U", {5}, "", Vars(names))});
  const std::vector<std::string> after = Shown(PLCTable());
  ASSERT_EQ(after.size(), before.size());
  EXPECT_EQ(std::vector<std::string>(after.begin(), after.begin() + kRenumberedRows),
            std::vector<std::string>(before.begin(), before.begin() + kRenumberedRows));
  EXPECT_NE(after, before);  // the rest is in file order
  for (size_t i = 0; i < PLC().FTags.size(); ++i)
    EXPECT_EQ(PLC().FTags[i]->FColor, static_cast<TColor>(i + 1)) << i;  // also past row 1001
}

TEST_F(PreserveLookTest, ARenamedPLCGetsDefaults) {
  applied.FTagNameFormat = 1;  // PLC named by its program
  LoadWithTables({TestProgram("U", {5}, "Line1", Vars({"A", "B"}))});
  PLC().FindTag("B")->FColor = 0x0000FF;
  PLCTable().MoveRowTo(*PLC().FindTag("B"), 0);
  PLCTable().Renumber();

  Rewrite({TestProgram("U", {5}, "Line2", Vars({"A", "B"}))});
  EXPECT_EQ(PLC().FName, "U.Line2");
  EXPECT_EQ(PLC().FindTag("B")->FColor, clNone);
  EXPECT_EQ(Shown(PLCTable()).back(), "U.Line2.B");
}

TEST_F(PreserveLookTest, SocketTablesFollowTheSavedOrderWhenTheSocketStillMatches) {
  const auto program = [](int secondNAD, std::vector<std::string> extra) {
    std::vector<std::string> names{"S1", "S2", "S3", "S4"};
    names.insert(names.end(), extra.begin(), extra.end());
    std::vector<std::string> socketVars{"S1", "S2", "S3", "S4"};
    socketVars.insert(socketVars.end(), extra.begin(), extra.end());
    return TestProgram("U", {5}, "", Vars(names),
                       {TestSocket{7, true, socketVars}, TestSocket{secondNAD, false, {"S1", "S2", "S3"}}});
  };
  LoadWithTables({program(8, {})});
  const auto reverse = [](const TATreeItem& a, const TATreeItem& b) {
    return -a.FVar->FItemID.compare(b.FVar->FItemID);
  };
  SocketTable(0).SortWith(reverse);
  SocketTable(1).SortWith(reverse);

  // The second socket's partner changes, and the first gains a variable.
  Rewrite({program(9, {"S0"})});
  const std::vector<std::string> first = Shown(SocketTable(0));
  ASSERT_EQ(first.size(), 5u);
  std::vector<std::string> saved;
  for (const auto& id : first)
    if (id != "U.5.S0") saved.push_back(id);
  EXPECT_EQ(saved, (std::vector<std::string>{"U.5.S4", "U.5.S3", "U.5.S2", "U.5.S1"}));
  EXPECT_EQ(Shown(SocketTable(1)), (std::vector<std::string>{"U.5.S1", "U.5.S2", "U.5.S3"}));
}

TEST(SavedOrder, LookupsIgnoreCaseAndUnknownRowsAreEqual) {
  TPreserveColorAndOrderOfProject record;
  record.FPLCs.resize(2);
  record.FPLCs[0].FPLCName = "u.5";
  record.FPLCs[1].FPLCName = "U.5";
  record.FPLCs[1].FSockets.push_back({true, 7, {"U.5.b", "U.5.A"}});
  EXPECT_EQ(FindSavedPLC(record, "U.5"), &record.FPLCs[1]);  // the last match
  EXPECT_EQ(FindSavedPLC(record, "U.6"), nullptr);

  FakeTagEnvironment env;
  TNorvoVar a(nullptr, "a"), b(nullptr, "b"), c(nullptr, "c");
  a.FItemID = "u.5.a";
  b.FItemID = "U.5.B";
  c.FItemID = "U.5.C";
  TATreeItem ra, rb, rc, property;
  ra.FVar = &a;
  rb.FVar = &b;
  rc.FVar = &c;
  const TRowComparer compare = CompareBySavedOrder(record.FPLCs[1].FSockets[0]);
  EXPECT_GT(compare(ra, rb), 0);
  EXPECT_LT(compare(rb, ra), 0);
  EXPECT_EQ(compare(ra, rc), 0);
  EXPECT_EQ(compare(property, ra), 0);
}

}  // namespace
