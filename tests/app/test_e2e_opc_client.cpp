// An OPC client in the process on the whole server: activated by ProgID,
// subscribed to a simulated PLC over UDP on 127.0.0.1, writing and reading
// through every interface generation. Each test ends with the task
// allocator where it started.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <string>

#include "app/engine_harness.h"
#include "fakes/opc_sinks.h"
#include "opc/opc_server_collection.h"
#include "opc/server_ids.h"

namespace {

using com_client::TaskOut;
using opc_sinks::Call;

constexpr int kTags = 50;

// 50 ints of one PLC, NAD 1, at 0x100 on.
std::string WriteProject(const std::string& Folder) {
  const std::string file = Folder + "/line.alc";
  std::ofstream out(file);
  out << ";cpu LINE 1\n;addr seg count offset stride scope type name comment\n";
  char row[96];
  for (int i = 0; i < kTags; ++i) {
    std::snprintf(row, sizeof row, "%04X M 1 0 0 global int T%02d Value %d\n", 0x100 + 2 * i, i, i);
    out << row;
  }
  out << ";end of allocation\n";
  return file;
}

std::string ItemID(int i) {
  char id[32];
  std::snprintf(id, sizeof id, "LINE.1.T%02d", i);
  return id;
}

class OpcClientEngineTest : public ::testing::Test {
 protected:
  // ChangePeriod 0: the simulator's values stand still.
  void Start(int ChangePeriod) {
    const std::string file = WriteProject(h.Folder());
    ASSERT_TRUE(sim.Start({"--project", file, "--change-period", std::to_string(ChangePeriod)}));
    ASSERT_TRUE(h.Configure(sim.Port(), file, [](TConnectionConfig& c, TSettings&) {
      c.FConnections.resize(1);
      c.FConnections[0].FTimeOut = 150;
    }));
    h.Start();
    ASSERT_TRUE(h.Controller().CommActive());
    RegisterDA2Factory(ComServer(), h.Collection());
    ASSERT_TRUE(ComServer().RegisterStandardEntries(nullptr));
    ASSERT_EQ(com_client::Activate("ZeltaOPC.DA2", &server), S_OK);
    ASSERT_EQ(h.Collection().Count(), 1u);
    ComPtr<IOPCItemMgt> g;
    OPCHANDLE sg = 0;
    uint32_t revised = 0;
    ASSERT_EQ(server->AddGroup(com_client::W("G").c_str(), 1, 100, kClientGroup, nullptr, nullptr, 0x409, &sg,
                               &revised, IID_IOPCItemMgt, reinterpret_cast<IUnknown**>(g.put())),
              S_OK);
    EXPECT_EQ(revised, 100u);
    group = g;
    std::vector<std::string> ids;
    for (int i = 0; i < kTags; ++i) ids.push_back(ItemID(i));
    handles = TEngineClient::AddItems(group.get(), ids);
    ASSERT_EQ(handles.size(), static_cast<size_t>(kTags));
    for (OPCHANDLE hs : handles) ASSERT_NE(hs, 0u);
    project = h.Engine().ProjectSet();
  }

  void TearDown() override {
    group = nullptr;
    sink = nullptr;
    advise = nullptr;
    server = nullptr;
    h.Stop();
    ComServer().SetCreator(CLSID_DA2, {});
  }

  template <class I>
  ComPtr<I> As() {
    ComPtr<I> out;
    EXPECT_EQ(group.As<I>(&out), S_OK);
    return out;
  }

  void Advise() {
    sink = MakeComObject<opc_sinks::DataCallback>();
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(As<IConnectionPointContainer>()->FindConnectionPoint(IID_IOPCDataCallback, point.put()), S_OK);
    uint32_t cookie = 0;
    ASSERT_EQ(point->Advise(sink->Identity(), &cookie), S_OK);
  }

  std::vector<Call> Calls(Call::Kind Kind) const {
    std::vector<Call> out;
    for (const auto& c : sink->calls)
      if (c.kind == Kind) out.push_back(c);
    return out;
  }

  TNorvoVar* Tag(int i) { return project->FindItem(ItemID(i)); }

  std::string SimValue(int i) { return sim.Control("get 1 " + std::to_string(0x100 + 2 * i) + " int").value_or("?"); }

  static constexpr OPCHANDLE kClientGroup = 7;
  // Declared first: checked after every reference below is gone.
  com_client::TaskMemLeakCheck leaks;
  TSimulatorProcess sim;
  TEngineHarness h;
  TOPCProject* project = nullptr;
  ComPtr<IOPCServer> server;
  ComPtr<IOPCItemMgt> group;
  std::vector<OPCHANDLE> handles;
  ComPtr<opc_sinks::DataCallback> sink;
  ComPtr<opc_sinks::AdviseSink> advise;
};

TEST_F(OpcClientEngineTest, DataChangesCarryTheSimulatorsChangingValuesWithGoodQuality) {
  Start(150);
  Advise();
  // Each item reported good, and the values seen to move.
  std::map<OPCHANDLE, std::set<double>> seen;
  size_t taken = 0;
  auto enough = [&] {
    for (; taken < sink->calls.size(); ++taken) {
      const Call& c = sink->calls[taken];
      if (c.kind != Call::DataChange) continue;
      EXPECT_EQ(c.group, kClientGroup);
      for (const auto& e : c.entries) {
        if (e.quality == OPC_QUALITY_GOOD) seen[e.client].insert(e.value);
        EXPECT_EQ(e.error, S_OK);
      }
    }
    if (seen.size() < static_cast<size_t>(kTags)) return false;
    for (const auto& [client, values] : seen)
      if (values.size() < 2) return false;
    return true;
  };
  EXPECT_TRUE(h.RunUntil(enough, 5000)) << seen.size() << " items reported good";
  for (const auto& [client, values] : seen) {
    EXPECT_GE(client, 100u);
    EXPECT_LT(client, 100u + kTags);
  }
}

TEST_F(OpcClientEngineTest, SynchronousWriteReachesThePLCsMemory) {
  Start(0);
  auto io = As<IOPCSyncIO>();
  ComVariant v = ComVariant::FromI4(4321);
  OPCHANDLE hs = handles[7];
  TaskOut<HRESULT> err;
  ASSERT_EQ(io->Write(1, &hs, v.get(), err.put()), S_OK);
  EXPECT_EQ(err[0], S_OK);
  err.Free();
  EXPECT_TRUE(Tag(7)->FWritePending) << "returns before the PLC has it";
  ASSERT_TRUE(h.RunUntil([&] { return !Tag(7)->FWritePending; }, 3000));
  EXPECT_EQ(SimValue(7), "4321");
}

TEST_F(OpcClientEngineTest, AsyncWrite2CompletesOnTheNextPass) {
  Start(0);
  Advise();
  auto io = As<IOPCAsyncIO2>();
  ComVariant v = ComVariant::FromI4(-55);
  OPCHANDLE hs = handles[3];
  uint32_t cancel = 0;
  TaskOut<HRESULT> err;
  ASSERT_EQ(io->Write(1, &hs, v.get(), 31, &cancel, err.put()), S_OK);
  err.Free();
  EXPECT_TRUE(Calls(Call::WriteComplete).empty());
  h.Engine().GroupTimerTick();
  const auto done = Calls(Call::WriteComplete);
  ASSERT_EQ(done.size(), 1u);
  EXPECT_EQ(done[0].transactionID, 31u);
  ASSERT_EQ(done[0].entries.size(), 1u);
  EXPECT_EQ(done[0].entries[0].client, 103u);
  EXPECT_EQ(done[0].entries[0].error, S_OK);
  // The value itself goes to the PLC afterwards.
  ASSERT_TRUE(h.RunUntil([&] { return !Tag(3)->FWritePending; }, 3000));
  EXPECT_EQ(SimValue(3), "-55");
}

TEST_F(OpcClientEngineTest, Write10CompletesAfterThePLCAcknowledges) {
  Start(0);
  // Talking to the PLC first: before any exchange a write cannot be
  // confirmed and completes at once.
  ASSERT_TRUE(h.RunUntil([&] { return Tag(12)->GetQuality() == OPC_QUALITY_GOOD; }, 4000));
  // Hold the acknowledge back (within the 150 ms timeout), so completion
  // before it would show.
  ASSERT_EQ(sim.Control("delay 1 100"), "ok");
  advise = MakeComObject<opc_sinks::AdviseSink>();
  FORMATETC fe{RegisterClipboardFormat(OPCSTMFORMATWRITECOMPLETE), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  uint32_t connection = 0;
  ASSERT_EQ(As<IDataObject>()->DAdvise(&fe, 0, advise.get(), &connection), S_OK);
  auto io = As<IOPCAsyncIO>();
  ComVariant v = ComVariant::FromI4(909);
  OPCHANDLE hs = handles[12];
  uint32_t tid = 0;
  TaskOut<HRESULT> err;
  ASSERT_EQ(io->Write(connection, 1, &hs, v.get(), &tid, err.put()), S_OK);
  err.Free();
  ASSERT_TRUE(h.RunUntil([&] { return !advise->blocks.empty(); }, 4000));
  EXPECT_FALSE(Tag(12)->FWritePending) << "completed only once acknowledged";
  EXPECT_EQ(SimValue(12), "909");
  ASSERT_EQ(advise->blocks.size(), 1u);
  opc_sinks::Bytes expected;
  expected.U32(1).U32(kClientGroup).U32(tid).U32(0).U32(112).U32(0);
  EXPECT_EQ(advise->blocks[0], expected.data);
  EXPECT_EQ(As<IDataObject>()->DUnadvise(connection), S_OK);
}

TEST_F(OpcClientEngineTest, DeviceReadsOfATimedOutPLCAnswer) {
  Start(0);
  Advise();
  ASSERT_TRUE(h.RunUntil([&] { return Tag(0)->GetQuality() == OPC_QUALITY_GOOD; }, 4000));
  ASSERT_EQ(sim.Control("fault 1 silence"), "ok");
  TNorvoModel* plc = Tag(0)->FOwner;
  ASSERT_TRUE(h.RunUntil([&] { return plc->FTimedOut; }, 4000));

  // Synchronous: at once, with the value it has.
  auto sync = As<IOPCSyncIO>();
  OPCHANDLE hs = handles[0];
  TaskOut<OPCITEMSTATE> states;
  TaskOut<HRESULT> err;
  ASSERT_EQ(sync->Read(OPC_DS_DEVICE, 1, &hs, states.put(), err.put()), S_OK);
  states.SetCount(1);
  EXPECT_EQ(states[0].hClient, 100u);
  states.Free();
  err.Free();

  // Asynchronous: completes, without waiting for a PLC that is not there.
  auto io = As<IOPCAsyncIO2>();
  uint32_t cancel = 0;
  ASSERT_EQ(io->Read(1, &hs, 41, &cancel, err.put()), S_OK);
  err.Free();
  ASSERT_TRUE(h.RunUntil([&] { return !Calls(Call::ReadComplete).empty(); }, 3000)) << "the read never completed";
  const auto done = Calls(Call::ReadComplete);
  EXPECT_EQ(done[0].transactionID, 41u);
  ASSERT_EQ(done[0].entries.size(), 1u);
  EXPECT_EQ(done[0].entries[0].client, 100u);
  EXPECT_EQ(done[0].entries[0].value, Tag(0)->FValue) << "the last value read";
}

TEST_F(OpcClientEngineTest, CancelledReadNeverCompletes) {
  Start(0);
  Advise();
  ASSERT_TRUE(h.RunUntil([&] { return Tag(20)->GetQuality() == OPC_QUALITY_GOOD; }, 4000));
  ASSERT_EQ(sim.Control("delay 1 100"), "ok");
  TNorvoModel* plc = Tag(20)->FOwner;
  auto io = As<IOPCAsyncIO2>();
  OPCHANDLE hs = handles[20];
  uint32_t cancel = 0;
  TaskOut<HRESULT> err;
  ASSERT_EQ(io->Read(1, &hs, 51, &cancel, err.put()), S_OK);
  err.Free();
  ASSERT_EQ(io->Cancel2(cancel), S_OK);
  const int32_t received = plc->FReceiveCount;
  // Long enough for the delayed reply to arrive and be passed on.
  h.RunUntil([] { return false; }, 1000);
  EXPECT_GT(plc->FReceiveCount, received) << "the PLC was read all the same";
  EXPECT_TRUE(Calls(Call::ReadComplete).empty());
  const auto cancelled = Calls(Call::CancelComplete);
  ASSERT_EQ(cancelled.size(), 1u);
  EXPECT_EQ(cancelled[0].transactionID, 51u);
}

}  // namespace
