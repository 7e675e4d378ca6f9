#include <gtest/gtest.h>

#include "fakes/opc_io_fixture.h"

namespace {

using opc_sinks::Call;

class Callbacks : public opc_io::GroupIo {
 protected:
  void SetUp() override {
    GroupIo::SetUp();
    sink = MakeComObject<opc_sinks::DataCallback>();
  }
  // Runs passes over ms milliseconds.
  void Run(uint32_t ms) {
    for (uint32_t t = 0; t < ms; t += 25) Pass();
  }
  ComPtr<opc_sinks::DataCallback> sink;
};

TEST_F(Callbacks, UnchangedValuesAreReportedOnceAndChangesAgain) {
  Advise(sink.get());
  Reply(Tag(0), 1);
  Pass();  // boundary: tags asked for
  EXPECT_TRUE(Tag(0).FReadRequest);
  Pass();  // gathered
  ASSERT_EQ(sink->calls.size(), 1u);
  EXPECT_EQ(sink->calls[0].transactionID, 0u);
  // The string tag comes in every period; the others only once.
  EXPECT_EQ(sink->calls[0].entries.size(), 4u);
  Run(1000);
  ASSERT_EQ(sink->calls.size(), 2u);
  ASSERT_EQ(sink->calls[1].entries.size(), 1u);
  EXPECT_EQ(sink->calls[1].entries[0].client, 103u);
  Reply(Tag(0), 2);
  Run(1000);
  ASSERT_EQ(sink->calls.size(), 3u);
  ASSERT_EQ(sink->calls[2].entries.size(), 2u);
  EXPECT_EQ(sink->calls[2].entries[0].value, 2);
}

TEST_F(Callbacks, AgeingOfASilentPLCIsReportedAsQualityChanges) {
  Advise(sink.get());
  Reply(Tag(0), 1);
  tagEnv.uncertainTime = 5;
  tagEnv.badTime = 10;
  std::vector<uint16_t> seen;
  for (int second = 0; second <= 12; ++second) {
    tagEnv.tick = Tag(0).FUpdateTick + second * 1000;
    Tag(0).Age(tagEnv.tick);
    Run(1000);
    for (const auto& c : sink->calls)
      for (const auto& en : c.entries)
        if (en.client == 100) seen.push_back(en.quality);
    sink->calls.clear();
  }
  EXPECT_EQ(seen, (std::vector<uint16_t>{kQualityGood, kQualityLastUsable, kQualityLastKnown}));
}

TEST_F(Callbacks, DisabledOrInactiveGroupsSendNoDataChanges) {
  Advise(sink.get());
  ASSERT_EQ(As<IOPCAsyncIO2>()->SetEnable(0), S_OK);
  Run(2000);
  EXPECT_TRUE(sink->calls.empty());
  ASSERT_EQ(As<IOPCAsyncIO2>()->SetEnable(1), S_OK);
  int32_t active = 0;
  As<IOPCGroupStateMgt>()->SetState(nullptr, nullptr, &active, nullptr, nullptr, nullptr, nullptr);
  Tag(0).FReadRequest = false;
  Run(2000);
  EXPECT_TRUE(sink->calls.empty());
  EXPECT_FALSE(Tag(0).FReadRequest);
  active = 1;
  As<IOPCGroupStateMgt>()->SetState(nullptr, nullptr, &active, nullptr, nullptr, nullptr, nullptr);
  Run(1000);
  ASSERT_EQ(sink->calls.size(), 1u);
  EXPECT_EQ(sink->calls[0].entries.size(), 4u) << "never reported before";
}

TEST_F(Callbacks, TheLatestAdviseReceivesAndAnyUnadviseStops) {
  auto second = MakeComObject<opc_sinks::DataCallback>();
  const uint32_t first = Advise(sink.get());
  Advise(second.get());
  Run(1000);
  EXPECT_TRUE(sink->calls.empty());
  EXPECT_EQ(second->calls.size(), 1u);
  Unadvise(first);
  Reply(Tag(0), 9);
  Run(2000);
  EXPECT_EQ(second->calls.size(), 1u);
  EXPECT_TRUE(s.SessionHas("Client established AsyncIO2 callback for group G"));
}

TEST_F(Callbacks, ASinkMayRemoveItemsAndReleaseTheGroupDuringTheCall) {
  Advise(sink.get());
  IOPCItemMgt* raw = group.get();
  sink->during = [&] {
    com_client::TaskOut<HRESULT> err;
    raw->RemoveItems(static_cast<uint32_t>(handles.size()), handles.data(), err.put());
    group = nullptr;
    server = nullptr;
  };
  Run(1000);
  EXPECT_EQ(sink->calls.size(), 1u);
  sink->during = nullptr;
  Run(1000);
}

TEST_F(Callbacks, FiredCallbacksAreTracedWhenAsked) {
  s.logger.FEnabled = true;
  s.collection.FDebugLog = true;
  Advise(sink.get());
  Run(1000);
  ASSERT_EQ(sink->calls.size(), 1u);
  EXPECT_NE(s.DebugLog().find("IOPCDataCallBack::OnDataChange"), std::string::npos);
  // Traced also when nobody listens any more.
  Unadvise(1);
  Reply(Tag(0), 4);
  uint32_t cancel = 0;
  com_client::TaskOut<HRESULT> err;
  EXPECT_EQ(As<IOPCAsyncIO2>()->Read(1, &handles[0], 1, &cancel, err.put()), CONNECT_E_NOCONNECTION);
  s.collection.FDebugLog = false;
  const size_t before = s.DebugLog().size();
  Run(1000);
  EXPECT_EQ(s.DebugLog().size(), before);
}

}  // namespace
