// The project set: naming, lookups, reloads, orphans, sockets, drivers.
#include <algorithm>

#include "core/project_set_support.h"
#include "../../tools/genproject/gen_project.h"
#include "model/same_text.h"
#include "model/tag_view.h"

namespace {

std::vector<std::string> Names(const TOPCProject& set) {
  std::vector<std::string> out;
  for (const auto& p : set.FPLCs) out.push_back(p->FName);
  return out;
}

TEST_F(ProjectSetTest, NameClashesAreNumberedInBothFormats) {
  struct Case {
    int format;
    std::vector<TestProgram> programs;
    std::vector<std::string> names;
  };
  const std::vector<Case> cases = {
      // Replaced characters and letter case both clash.
      {1,
       {{"U", {1}, "A-B", {"int X"}}, {"U", {2}, "A.B", {"int X"}}, {"U", {3}, "a b", {"int X"}},
        {"U", {4}, "", {"int X"}}},
       {"U.A_B", "U.A_B_1", "U.a_b_2", "U.Prog"}},
      // The same NAD on two sections, and two NADs on one section.
      {0, {{"U", {12}, "P", {"int X"}}, {"U", {12, 13}, "Q", {"int X"}}}, {"U.12", "U.12_1", "U.13"}},
  };
  for (const Case& c : cases) {
    applied.FTagNameFormat = c.format;
    const std::string path = WriteProject(tmp.Path(), "names" + std::to_string(c.format), c.programs);
    Load({path});
    EXPECT_EQ(Names(*set), c.names);
    for (const auto& plc : set->FPLCs) {
      ASSERT_EQ(plc->FTags.size(), 1u);
      EXPECT_EQ(set->FindItem(plc->FName + ".X"), plc->FTags[0].get());
    }
  }
  EXPECT_TRUE(boxes.errors.empty());
}

TEST_F(ProjectSetTest, OneProgramOnTwoNADsGivesEachPLCItsOwnTagsAndArrayHeads) {
  // An array line yields its head and elements; built by hand to keep it small.
  const std::string path = tmp.Path() + "/arr.alc";
  std::ofstream(path) << ";cpu U 5 6\r\n0010 M 3 0 2 global int A array\r\n0020 M 1 0 0 global long L x\r\n;end\r\n";
  Load({path});
  ASSERT_EQ(set->FPLCs.size(), 2u);
  const TNorvoModel& a = *set->FPLCs[0];
  const TNorvoModel& b = *set->FPLCs[1];
  ASSERT_EQ(a.FTags.size(), b.FTags.size());
  ASSERT_GE(a.FTags.size(), 3u);
  for (size_t i = 0; i < a.FTags.size(); ++i) {
    EXPECT_NE(a.FTags[i].get(), b.FTags[i].get());
    EXPECT_EQ(a.FTags[i]->FOwner, &a);
    if (b.FTags[i]->FArrayHead) {
      EXPECT_EQ(b.FTags[i]->FArrayHead->FOwner, &b);
    }
  }
  EXPECT_EQ(a.FTags[1]->FArrayHead, a.FTags[0].get());
  EXPECT_EQ(b.FTags[1]->FItemID.rfind("U.6.", 0), 0u);
}

TEST_F(ProjectSetTest, FindItemRules) {
  const std::string path = WriteProject(tmp.Path(), "p", {{"U", {5}, "P", {"int Motor", "int Sys.Nad"}}});
  Load({path});
  EXPECT_EQ(set->FindItem("sys.CLIENTSCONNECTED"), set->FSys.FClientsConnected);
  EXPECT_EQ(set->FindItem("Sys.ClientsConnected.x"), nullptr);
  EXPECT_EQ(set->FindItem("U5"), nullptr);
  EXPECT_EQ(set->FindItem("U.5"), nullptr);
  EXPECT_EQ(set->FindItem("u.5.MOTOR"), set->FPLCs[0]->FTags[0].get());
  // A PLC's system tag wins over a variable with the same item ID.
  EXPECT_EQ(set->FindItem("U.5.Sys.Nad"), set->FPLCs[0]->FSysNad);
  EXPECT_EQ(set->FindPLCByName("u.5"), set->FPLCs[0].get());
  EXPECT_EQ(set->FindPLCByNAD(5), set->FPLCs[0].get());
  EXPECT_EQ(set->FindProjectByFile(LowerText(path)), set->FProjects[0].get());
}

// The rule FindItem must answer by, walked the slow way.
TNorvoVar* LinearFindItem(const TOPCProject& set, const std::string& id) {
  for (const auto& t : set.FSysTags)
    if (SameText(t->FItemID, id)) return t.get();
  std::string_view name;
  if (!PLCNameOfItemID(id, name)) return nullptr;
  for (const auto& plc : set.FPLCs) {
    if (!SameText(plc->FName, name)) continue;
    for (const auto& t : plc->FSysTags)
      if (SameText(t->FItemID, id)) return t.get();
    for (const auto& t : plc->FTags)
      if (SameText(t->FItemID, id)) return t.get();
  }
  return nullptr;
}

TEST_F(ProjectSetTest, FindItemAgreesWithTheLinearRuleOnAGeneratedProject) {
  GenProjectOptions o;
  o.Plcs = 12;
  o.VarsPerPlc = 150;
  o.Name = "gen";
  const std::string gen = WriteGeneratedProject(o, tmp.Path());
  o.Name = "gen2";  // the same units and NADs again: every PLC name clashes
  o.Seed = 7;
  const std::string gen2 = WriteGeneratedProject(o, tmp.Path());
  // A unit with a dot makes PLCs that the rule cannot reach.
  const std::string odd = WriteProject(tmp.Path(), "odd", {{"A.B", {5}, "", {"int X", "int x"}}, {"A", {7}, "", {"int X"}}});
  Load({gen, gen2, odd});

  std::vector<std::string> ids = {"Sys.PlcCount", "sys.plccount", "A.B.5.X", "a.7.x", "nothing", "a.b", "Unit1.1"};
  for (const auto& plc : set->FPLCs) {
    for (const auto* list : {&plc->FSysTags, &plc->FTags})
      for (const auto& t : *list) {
        ids.push_back(t->FItemID);
        ids.push_back(LowerText(t->FItemID));
      }
  }
  size_t found = 0;
  for (const std::string& id : ids) {
    TNorvoVar* expected = LinearFindItem(*set, id);
    ASSERT_EQ(set->FindItem(id), expected) << id;
    found += expected != nullptr;
  }
  EXPECT_GT(found, ids.size() / 2);

  // Still true after a project goes and comes back.
  set->acDeleteProjectExecute(set->FProjects[0].get());  // answered No: nothing happens
  boxes.answers = {TMsgAnswer::Yes};
  set->acDeleteProjectExecute(set->FProjects[0].get());
  for (const std::string& id : ids) ASSERT_EQ(set->FindItem(id), LinearFindItem(*set, id)) << id;
}

TEST_F(ProjectSetTest, ReferencedTagsSurviveDeleteAndAreReattachedByAdd) {
  const std::string path = WriteProject(tmp.Path(), "p", {{"U", {5}, "P", {"int Motor", "int Pump"}}});
  Load({path});
  TNorvoVar* motor = set->FindItem("U.5.Motor");
  TNorvoVar* nad = set->FindItem("U.5.Sys.Nad");
  ASSERT_TRUE(motor && nad);
  motor->FRefCount = 1;
  nad->FRefCount = 1;

  boxes.answers = {TMsgAnswer::Yes};
  set->acDeleteProjectExecute(set->FProjects[0].get());
  EXPECT_EQ(boxes.questions, std::vector<std::string>{kClientConnectedQuestion});
  EXPECT_TRUE(set->FPLCs.empty());
  EXPECT_TRUE(set->FProjectFiles.empty());
  EXPECT_EQ(set->FOrphanTags.size(), 2u);
  EXPECT_TRUE(motor->FOrphan);
  EXPECT_EQ(motor->FOwner, nullptr);
  EXPECT_EQ(motor->GetQuality(), kQualityConfigError);
  EXPECT_EQ(set->FindItem("U.5.Motor"), nullptr);

  set->acAddProjectExecute({path});
  ASSERT_EQ(set->FPLCs.size(), 1u);
  EXPECT_EQ(set->FindItem("U.5.Motor"), motor);
  EXPECT_EQ(set->FPLCs[0]->FSysNad, nad);
  EXPECT_EQ(motor->FOwner, set->FPLCs[0].get());
  EXPECT_FALSE(motor->FOrphan);
  EXPECT_NE(motor->GetQuality(), kQualityConfigError);
  EXPECT_TRUE(set->FOrphanTags.empty());
  EXPECT_EQ(set->FProjectFiles, std::vector<std::string>{path});
}

TEST_F(ProjectSetTest, DeleteWithoutClientsAsksByPathAndCancelKeepsEverything) {
  const std::string path = WriteProject(tmp.Path(), "p", {{"U", {5}, "P", {"int Motor"}}});
  Load({path});
  set->acDeleteProjectExecute(set->FProjects[0].get());
  EXPECT_EQ(boxes.questions, std::vector<std::string>{"Are you sure to delete project \"" + path + "\""});
  EXPECT_EQ(set->FPLCs.size(), 1u);
  EXPECT_EQ(set->FProjectFiles.size(), 1u);
}

TEST_F(ProjectSetTest, AddingALoadedFileAgainIsRefusedAndStopsTheSelection) {
  const std::string a = WriteProject(tmp.Path(), "A", {{"U", {5}, "P", {"int X"}}});
  const std::string b = WriteProject(tmp.Path(), "B", {{"V", {6}, "P", {"int X"}}});
  const std::string c = WriteProject(tmp.Path(), "C", {{"W", {7}, "P", {"int X"}}});
  Load({a});
  set->acAddProjectExecute({b, tmp.Path() + "/a.ALC", c});
  EXPECT_EQ(boxes.errors, std::vector<std::string>{"Project a.alc allready loaded"});
  EXPECT_EQ(set->FProjectFiles, (std::vector<std::string>{a, b}));
  EXPECT_EQ(set->FProjects.size(), 1u);  // not reloaded
}

TEST_F(ProjectSetTest, ChangedOnlyReloadTouchesOnlyTheChangedProject) {
  const std::string a = WriteProject(tmp.Path(), "A", {{"U", {5}, "P", {"int X"}}});
  const std::string b = WriteProject(tmp.Path(), "B", {{"V", {6}, "Q", {"int Y"}}});
  Load({a, b});
  set->SetCommunication(true);
  TZeltaProject* first = set->FProjects[0].get();
  TNorvoModel* firstPLC = set->FPLCs[0].get();
  const int stopsBefore = hooks.stopRounds, startsBefore = hooks.startRounds;

  set->Reload(true);  // nothing changed
  EXPECT_EQ(hooks.stopRounds, stopsBefore);
  EXPECT_EQ(set->FProjects[0].get(), first);

  Touch(tmp.Path() + "/B.cyp");
  set->Reload(true);
  EXPECT_EQ(hooks.stopRounds, stopsBefore + 1);
  EXPECT_EQ(hooks.startRounds, startsBefore + 1);
  EXPECT_TRUE(set->FCommunicating);
  ASSERT_EQ(set->FProjects.size(), 2u);
  EXPECT_EQ(set->FProjects[0].get(), first);
  EXPECT_EQ(set->FPLCs[0].get(), firstPLC);
  EXPECT_EQ(set->FProjects[0]->FRefreshCount, 1);
  EXPECT_EQ(set->FProjects[1]->FRefreshCount, 2);
  EXPECT_EQ(set->FPLCs[1]->FName, "V.6");
  EXPECT_TRUE(boxes.errors.empty());
}

TEST_F(ProjectSetTest, ReadErrorsAndMissingFiles) {
  const std::string bad = tmp.Path() + "/bad.alc";
  std::ofstream(bad) << "0010 M 1 0 0 global int X x\r\n;end\r\n";
  const std::string later = tmp.Path() + "/later.alc";
  Load({bad, later});
  ASSERT_EQ(set->FProjects.size(), 2u);
  EXPECT_TRUE(set->FPLCs.empty());
  ASSERT_EQ(boxes.errors.size(), 3u);
  EXPECT_EQ(boxes.errors[0], "Missmatched file format in " + bad);
  EXPECT_EQ(boxes.errors[1], "Allocation file does not exist " + later);
  EXPECT_FALSE(set->FAllProjectsComplete);

  // Once the file exists the automatic reload picks it up, without a box.
  WriteProject(tmp.Path(), "later", {{"U", {5}, "P", {"int X"}}});
  boxes.errors.clear();
  for (int i = 0; i < 8; ++i) set->ViewTick(300);
  EXPECT_TRUE(boxes.errors.empty());
  ASSERT_EQ(set->FPLCs.size(), 1u);
  EXPECT_EQ(set->FProjects.back()->FProjectFileItem, tmp.Path() + "/later.cyp");
  EXPECT_TRUE(set->FProjects.back()->FComplete);
}

TEST_F(ProjectSetTest, AutomaticReloadRunsEveryFifthTickAfterTheFirstTwoSeconds) {
  const std::string a = WriteProject(tmp.Path(), "A", {{"U", {5}, "P", {"int X"}}});
  Load({a});
  std::vector<int> countdowns;
  for (int i = 0; i < 13; ++i) {
    set->ViewTick(300);
    countdowns.push_back(set->FAutoReloadCountdown);
  }
  EXPECT_EQ(countdowns, (std::vector<int>{1700, 1400, 1100, 800, 500, 200, -100, 1000, 700, 400, 100, -200, 1000}));
}

TEST_F(ProjectSetTest, SocketFramesReachInputSocketsOfOthersAndTheSendersOutput) {
  const std::string path = WriteProject(
      tmp.Path(), "s",
      {{"U", {1}, "", {"int A"}, {{3, true, {"A"}}}},
       {"U", {2}, "", {"int B"}, {{3, true, {"B"}}}},
       {"U", {3}, "", {"int C", "int D"}, {{0, false, {"C"}}, {3, true, {"D"}}}}});
  Load({path});
  ASSERT_EQ(set->FPLCs.size(), 3u);
  const uint8_t payload[2] = {0x34, 0x12};
  set->DistributeSocketData(3, 0, payload, 2);
  EXPECT_EQ(set->FindItem("U.1.A")->FValue, 0x1234);
  EXPECT_EQ(set->FindItem("U.2.B")->FValue, 0x1234);
  EXPECT_EQ(set->FindItem("U.3.C")->FValue, 0x1234);
  EXPECT_FALSE(set->FindItem("U.3.D")->FValid);  // a PLC never hears itself as a partner

  const uint8_t next[2] = {0x01, 0x00};
  set->DistributeSocketData(3, 2, next, 2);
  EXPECT_EQ(set->FindItem("U.1.A")->FValue, 0x1234);
  EXPECT_EQ(set->FindItem("U.2.B")->FValue, 1);
  EXPECT_EQ(set->FindItem("U.3.C")->FValue, 0x1234);  // its output socket goes to 0
}

TEST_F(ProjectSetTest, ReleasedSocketTagsLeaveTheirRowsButNotTheirBytes) {
  struct Rows final : ITagTableView {
    void AddRow(TNorvoVar& Tag) override { rows.push_back(&Tag); }
    void RemoveRow(TNorvoVar& Tag) override { std::erase(rows, &Tag); }
    std::vector<TNorvoVar*> rows;
  };
  const std::string path =
      WriteProject(tmp.Path(), "s", {{"U", {3}, "", {"long L", "bit B", "int I"}, {{1, true, {"L", "B", "I"}}}}});
  Load({path});
  TQNETSocket* socket = set->FPLCs.at(0)->FindSocket(true, 1);
  ASSERT_NE(socket, nullptr);
  Rows view;
  socket->FView = &view;
  for (TNorvoVar* t : socket->FTags) view.AddRow(*t);
  TNorvoVar* b = set->FindItem("U.3.B");
  TNorvoVar* i = set->FindItem("U.3.I");
  TNorvoVar* l = set->FindItem("U.3.L");
  i->FRefCount = 1;  // a client holds it: it becomes an orphan
  set->ReleaseTag(b);
  set->ReleaseTag(i);
  EXPECT_EQ(view.rows, (std::vector<TNorvoVar*>{l}));
  EXPECT_TRUE(i->FOrphan);

  // Laid out as bit, int, long: the long still comes from bytes 3 to 6.
  const uint8_t payload[7] = {0x01, 0x22, 0x11, 0x78, 0x56, 0x34, 0x12};
  set->DistributeSocketData(1, 3, payload, 7);
  EXPECT_EQ(l->FValue, 0x12345678);
  EXPECT_FALSE(i->FValid);
}

TEST_F(ProjectSetTest, TagsInFlightAreHeldUntilTheRequestEnds) {
  const std::string path = WriteProject(tmp.Path(), "p", {{"U", {5}, "P", {"int A", "int B"}}});
  Load({path});
  TNorvoVar* a = set->FindItem("U.5.A");
  TNorvoVar* b = set->FindItem("U.5.B");
  a->FInRequest = true;
  b->FInRequest = true;
  set->Reload(false);
  ASSERT_EQ(set->FDeletePendingTags.size(), 2u);
  EXPECT_TRUE(a->FDeletePending);
  EXPECT_EQ(a->FOwner, nullptr);
  EXPECT_TRUE(set->FOrphansToFree);
  EXPECT_NE(set->FindItem("U.5.A"), a);

  set->FreeDeletePendingTags();  // still in flight
  EXPECT_EQ(set->FDeletePendingTags.size(), 2u);
  a->FInRequest = false;
  b->FInRequest = false;
  b->FRefCount = 1;  // a client took it meanwhile
  set->ViewTick(300);
  EXPECT_TRUE(set->FDeletePendingTags.empty());
  EXPECT_FALSE(set->FOrphansToFree);
  EXPECT_TRUE(set->FOrphanTags.Contains(b));
  EXPECT_FALSE(b->FDeletePending);
}

TEST_F(ProjectSetTest, SerialPLCsShareTheDefaultPort) {
  const std::string path = WriteProject(tmp.Path(), "p", {{"U", {5, 6}, "P", {"int A"}, {}, 6}});
  Load({path});
  ASSERT_EQ(set->FDrivers.size(), 1u);
  EXPECT_EQ(set->FDrivers[0]->FUseCount, 2);
  EXPECT_EQ(set->FDrivers[0]->FPortCaption, "COM 1");
  EXPECT_TRUE(set->UpdateMasterFlags());
  EXPECT_TRUE(set->FDrivers[0]->FSettings.FHasMasterPLC);
  EXPECT_TRUE(set->FDrivers[0]->FSettings.FProjectsComplete);

  // A PLC may not switch a serial driver to an address.
  set->FPLCs[0]->FDedicatedIP = 0x7F000002;
  set->SwitchToDedicatedIPAddress();
  EXPECT_EQ(boxes.errors, std::vector<std::string>{kDedicatedIPError});
  EXPECT_EQ(set->FPLCs[0]->FDriver, set->FDrivers[0].get());
  set->SwitchToDedicatedIPAddress();
  EXPECT_EQ(boxes.errors.size(), 1u);

  boxes.answers = {TMsgAnswer::Yes};
  set->acDeleteProjectExecute(set->FProjects[0].get());
  EXPECT_TRUE(set->FDrivers.empty());
  EXPECT_EQ(hooks.freed, 1);
}

TEST_F(ProjectSetTest, UDPDriversAreSharedByTargetUntilPLCsAnswerFromTheirOwnAddress) {
  applied.FSerialSelected = false;
  applied.FBroadcastAddress = 0x7F0000FF;
  const std::string path = WriteProject(tmp.Path(), "p", {{"U", {5, 6, 7}, "P", {"int A"}}});
  Load({path});
  ASSERT_EQ(set->FDrivers.size(), 1u);
  EXPECT_EQ(set->FDrivers[0]->FSettings.FTargetAddress, "127.0.0.255");
  EXPECT_EQ(set->FDrivers[0]->FSettings.FRemoteUDPPort, 8442);
  EXPECT_EQ(set->FDrivers[0]->FUseCount, 3);

  set->FPLCs[0]->FDedicatedIP = 0x7F000005;
  set->FPLCs[1]->FDedicatedIP = 0x7F000005;
  set->SwitchToDedicatedIPAddress();
  ASSERT_EQ(set->FDrivers.size(), 2u);
  EXPECT_EQ(set->FPLCs[0]->FDriver, set->FPLCs[1]->FDriver);
  EXPECT_EQ(set->FPLCs[0]->FDriver->FSettings.FTargetAddress, "127.0.0.5");
  EXPECT_EQ(set->FPLCs[0]->FDriver->FUseCount, 2);
  EXPECT_EQ(set->FPLCs[2]->FDriver->FUseCount, 1);

  // Timed out: back to the broadcast driver; the dedicated one goes.
  set->FPLCs[0]->FDedicatedIP = TNorvoModel::kDedicatedIPDefault;
  set->FPLCs[1]->FDedicatedIP = TNorvoModel::kDedicatedIPDefault;
  set->SwitchToDedicatedIPAddress();
  ASSERT_EQ(set->FDrivers.size(), 1u);
  EXPECT_EQ(set->FDrivers[0]->FUseCount, 3);
}

TEST_F(ProjectSetTest, IndividualConnectionsAndRebuild) {
  Make();
  set->FUseIndividualConnections = true;
  TCommunicationSettings c;
  c.FDriverType = kDriverUDP;
  c.FIPAdrAutodetect = false;
  c.FHost = "127.0.0.9";
  c.FRemoteUDPPort = 9000;
  c.FConnectionNAD = 5;
  set->FConnections.push_back(c);
  c.FConnectionNAD = 6;
  set->FConnections.push_back(c);
  c.FConnectionNAD = 7;
  c.FDriverType = 0;  // no driver
  set->FConnections.push_back(c);
  const std::string path = WriteProject(tmp.Path(), "p", {{"U", {5, 6, 7}, "P", {"int A"}}});
  Load({path});
  ASSERT_EQ(set->FDrivers.size(), 1u);
  EXPECT_EQ(set->FDrivers[0]->FUseCount, 2);
  EXPECT_EQ(set->FDrivers[0]->FSettings.FTargetAddress, "127.0.0.9");
  EXPECT_EQ(set->FPLCs[2]->FDriver, nullptr);

  // A changed port gives PLC 6 its own driver; master flags follow the connection.
  set->FConnections[1].FRemoteUDPPort = 9001;
  set->FConnections[1].FCommMaster = true;
  ASSERT_TRUE(set->RebuildDrivers());
  ASSERT_EQ(set->FDrivers.size(), 2u);
  EXPECT_NE(set->FPLCs[0]->FDriver, set->FPLCs[1]->FDriver);
  EXPECT_TRUE(set->FPLCs[1]->FDriver->FSettings.FCommMaster);

  set->FConnections.pop_back();
  EXPECT_FALSE(set->RebuildDrivers());
  EXPECT_EQ(boxes.errors, std::vector<std::string>{kNoConnectionError});

  // Back to the shared connection: one driver for all.
  set->FUseIndividualConnections = false;
  applied.FMasterMode = 1;
  ASSERT_TRUE(set->RebuildDrivers());
  ASSERT_EQ(set->FDrivers.size(), 1u);
  EXPECT_EQ(set->FDrivers[0]->FUseCount, 3);
  EXPECT_TRUE(set->FDrivers[0]->FSettings.FCommMaster);
  EXPECT_FALSE(set->FDrivers[0]->FSettings.FAutoMaster);
}

TEST_F(ProjectSetTest, LongNamesAreCollectedForTheWarningOncePerProject) {
  applied.FTagNameWarnLen = 8;
  const std::string path = WriteProject(tmp.Path(), "p", {{"U", {5}, "P", {"int Short", "int LongerName", "int Y"}}});
  Load({path});
  EXPECT_EQ(set->FNameWarningLines,
            (std::vector<std::string>{"Some tags have tag names longer then 8 characters in project " + path + ":",
                                      "U.5.Short", "U.5.LongerName"}));
  EXPECT_TRUE(set->FNameWarningPending);
}

TEST_F(ProjectSetTest, ServerSystemTagsAndPriorityTag) {
  Make();
  EXPECT_EQ(set->FSysTags.size(), 44u);
  EXPECT_EQ(set->FPriorityNADTag, set->FindItem("Sys.CommnicationPriorityNAD"));
  EXPECT_EQ(set->FPriorityNADTag->FAccessRights, 3);
}

}  // namespace
