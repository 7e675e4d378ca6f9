#include <gtest/gtest.h>

#include "fakes/opc_io_fixture.h"

namespace {

using com_client::TaskOut;
using opc_sinks::Call;

class AsyncIo : public opc_io::GroupIo {
 protected:
  void SetUp() override {
    GroupIo::SetUp();
    sink = MakeComObject<opc_sinks::DataCallback>();
    // No periodic data changes in the way of the replies.
    G().FCallbackEnabled = false;
  }
  HRESULT Read2(std::vector<OPCHANDLE> h, uint32_t tid, uint32_t* cancel, TaskOut<HRESULT>& err) {
    return As<IOPCAsyncIO2>()->Read(static_cast<uint32_t>(h.size()), h.data(), tid, cancel, err.put());
  }
  std::vector<Call> Calls(Call::Kind kind) {
    std::vector<Call> out;
    for (const auto& c : sink->calls)
      if (c.kind == kind) out.push_back(c);
    return out;
  }
  ComPtr<opc_sinks::DataCallback> sink;
};

TEST_F(AsyncIo, Read2NeedsASinkAndAKnownItem) {
  uint32_t cancel = 0;
  TaskOut<HRESULT> err;
  EXPECT_EQ(Read2({handles[0]}, 1, &cancel, err), CONNECT_E_NOCONNECTION);
  Advise(sink.get());
  EXPECT_EQ(Read2({0, 0xBEEF}, 1, &cancel, err), E_FAIL);
  EXPECT_FALSE(err);
  EXPECT_EQ(Read2({}, 1, &cancel, err), E_INVALIDARG);
  EXPECT_EQ(Read2({0, handles[0]}, 1, &cancel, err), S_FALSE);
  EXPECT_EQ(err[0], OPC_E_UNKNOWNITEMID);
  EXPECT_EQ(err[1], S_OK);
}

TEST_F(AsyncIo, DeviceReadWaitsForFreshValuesUnlessThePLCIsGone) {
  Advise(sink.get());
  uint32_t cancel = 0;
  TaskOut<HRESULT> err;
  ASSERT_EQ(Read2({handles[0], handles[1]}, 55, &cancel, err), S_OK);
  Pass();
  Pass();
  EXPECT_TRUE(Calls(Call::ReadComplete).empty());
  Reply(Tag(0), 3);
  Pass();
  EXPECT_TRUE(Calls(Call::ReadComplete).empty()) << "the second tag is not fresh yet";
  plc.FTimedOut = true;  // no reply will come: answer with what is cached
  Pass();
  auto done = Calls(Call::ReadComplete);
  ASSERT_EQ(done.size(), 1u);
  EXPECT_EQ(done[0].transactionID, 55u);
  EXPECT_EQ(done[0].group, kClientGroup);
  ASSERT_EQ(done[0].entries.size(), 2u);
  EXPECT_EQ(done[0].entries[0].value, 3);
  EXPECT_EQ(done[0].entries[0].client, 100u);
  EXPECT_EQ(done[0].masterQuality, S_FALSE);  // the second tag never had a value
  EXPECT_EQ(done[0].masterError, S_OK);
  Pass();
  EXPECT_EQ(Calls(Call::ReadComplete).size(), 1u) << "a reply goes once";
}

TEST_F(AsyncIo, ReplyOfRemovedItemsMarksOnlyThoseEntries) {
  Advise(sink.get());
  plc.FTimedOut = true;
  uint32_t cancel = 0;
  TaskOut<HRESULT> err;
  ASSERT_EQ(Read2({handles[0], handles[1], handles[2]}, 9, &cancel, err), S_OK);
  TaskOut<HRESULT> removed;
  ASSERT_EQ(group->RemoveItems(1, &handles[1], removed.put()), S_OK);
  Pass();
  auto done = Calls(Call::ReadComplete);
  ASSERT_EQ(done.size(), 1u);
  ASSERT_EQ(done[0].entries.size(), 3u);
  EXPECT_EQ(done[0].entries[1].error, OPC_E_UNKNOWNITEMID);
  EXPECT_EQ(done[0].entries[2].error, S_OK);
  EXPECT_EQ(done[0].entries[2].client, 102u);
  EXPECT_EQ(done[0].masterError, S_FALSE);
  EXPECT_EQ(done[0].masterQuality, S_FALSE);
}

TEST_F(AsyncIo, CancelledReadIsConfirmedAndNeverAnswered) {
  Advise(sink.get());
  uint32_t cancel = 0;
  TaskOut<HRESULT> err;
  ASSERT_EQ(Read2({handles[0]}, 77, &cancel, err), S_OK);
  auto io2 = As<IOPCAsyncIO2>();
  EXPECT_EQ(io2->Cancel2(cancel + 1000), E_FAIL);
  EXPECT_EQ(io2->Cancel2(cancel), S_OK);
  EXPECT_EQ(io2->Cancel2(cancel), E_FAIL) << "already cancelled";
  Reply(Tag(0), 1);
  Pass();
  Pass();
  ASSERT_EQ(sink->calls.size(), 1u);
  EXPECT_EQ(sink->calls[0].kind, Call::CancelComplete);
  EXPECT_EQ(sink->calls[0].transactionID, 77u);
  EXPECT_EQ(io2->Cancel2(cancel), E_FAIL) << "gone from the queue";
}

TEST_F(AsyncIo, Write2CompletesOnTheNextPass) {
  Advise(sink.get());
  auto io2 = As<IOPCAsyncIO2>();
  ComVariant v = ComVariant::FromI4(12), bad = ComVariant::FromString("x");
  std::vector<OPCHANDLE> h{handles[0], handles[1], handles[3], 0};
  VARIANT values[] = {*v.get(), *bad.get(), *v.get(), *v.get()};
  uint32_t cancel = 0;
  TaskOut<HRESULT> err;
  ASSERT_EQ(io2->Write(4, h.data(), values, 31, &cancel, err.put()), S_FALSE);
  EXPECT_EQ(err[0], S_OK);
  EXPECT_EQ(err[1], OPC_E_BADTYPE);
  EXPECT_EQ(err[2], S_OK);  // read-only: refused in the completion
  EXPECT_EQ(err[3], OPC_E_UNKNOWNITEMID);
  EXPECT_EQ(Tag(0).FValue, 12);
  Pass();
  auto done = Calls(Call::WriteComplete);
  ASSERT_EQ(done.size(), 1u);
  EXPECT_EQ(done[0].transactionID, 31u);
  ASSERT_EQ(done[0].entries.size(), 2u) << "the refused value has no completion entry";
  EXPECT_EQ(done[0].entries[0].error, S_OK);
  EXPECT_EQ(done[0].entries[0].client, 100u);
  EXPECT_EQ(done[0].entries[1].error, OPC_E_BADRIGHTS);
  EXPECT_EQ(done[0].masterError, S_FALSE);
}

TEST_F(AsyncIo, Refresh2AndEnableFollowTheGroupState) {
  auto io2 = As<IOPCAsyncIO2>();
  uint32_t cancel = 0;
  int32_t enabled = 0;
  EXPECT_EQ(io2->Refresh2(OPC_DS_CACHE, 1, &cancel), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(io2->SetEnable(1), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(io2->GetEnable(&enabled), CONNECT_E_NOCONNECTION);
  Advise(sink.get());
  int32_t inactive = 0;
  ASSERT_EQ(As<IOPCGroupStateMgt>()->SetState(nullptr, nullptr, &inactive, nullptr, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(io2->Refresh2(OPC_DS_CACHE, 1, &cancel), E_FAIL);
  ASSERT_EQ(io2->Refresh2(OPC_DS_DEVICE, 2, &cancel), S_OK);
  EXPECT_TRUE(Tag(0).FReadRequest);
  ASSERT_EQ(io2->SetEnable(0), S_OK);
  EXPECT_EQ(io2->GetEnable(&enabled), S_OK);
  EXPECT_EQ(enabled, 0);
  plc.FTimedOut = true;
  Pass();
  auto done = Calls(Call::DataChange);
  ASSERT_EQ(done.size(), 1u) << "refresh replies go out whatever SetEnable says";
  EXPECT_EQ(done[0].transactionID, 2u);
  EXPECT_EQ(done[0].entries.size(), 4u);

  TaskOut<HRESULT> err;
  ASSERT_EQ(group->SetActiveState(static_cast<uint32_t>(handles.size()), handles.data(), 0, err.put()), S_OK);
  EXPECT_EQ(io2->Refresh2(OPC_DS_DEVICE, 3, &cancel), E_FAIL) << "no active item";
}

// ---- DA 1.0 --------------------------------------------------------------------

class AsyncIo10 : public AsyncIo {
 protected:
  void SetUp() override {
    AsyncIo::SetUp();
    advise = MakeComObject<opc_sinks::AdviseSink>();
  }
  uint32_t DAdvise(const char* format) {
    FORMATETC fe{RegisterClipboardFormat(format), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    uint32_t connection = 0;
    EXPECT_EQ(As<IDataObject>()->DAdvise(&fe, 0, advise.get(), &connection), S_OK);
    return connection;
  }
  ComPtr<opc_sinks::AdviseSink> advise;
};

TEST_F(AsyncIo10, ReadIsOnePerGroupAtATime) {
  auto io = As<IOPCAsyncIO>();
  uint32_t tid = 0;
  TaskOut<HRESULT> err;
  std::vector<OPCHANDLE> none{0}, one{handles[0]};
  EXPECT_EQ(io->Read(2, OPC_DS_CACHE, 1, one.data(), &tid, err.put()), CONNECT_E_NOCONNECTION);
  const uint32_t conn = DAdvise(OPCSTMFORMATDATA);
  EXPECT_EQ(io->Read(1, OPC_DS_CACHE, 1, one.data(), &tid, err.put()), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(io->Read(conn, OPC_DS_CACHE, 1, none.data(), &tid, err.put()), E_FAIL);
  ASSERT_EQ(io->Read(conn, OPC_DS_CACHE, 1, one.data(), &tid, err.put()), S_OK);
  const uint32_t first = tid;
  EXPECT_NE(first, 0u);
  EXPECT_EQ(io->Read(conn, OPC_DS_CACHE, 1, one.data(), &tid, err.put()), CONNECT_E_ADVISELIMIT);
  EXPECT_EQ(io->Cancel(first), E_FAIL);
  Pass();
  ASSERT_EQ(advise->blocks.size(), 1u);
  ASSERT_EQ(io->Read(conn, OPC_DS_CACHE, 1, one.data(), &tid, err.put()), S_OK);
  EXPECT_EQ(tid, first + 1);
}

TEST_F(AsyncIo10, WriteCompletesAfterThePLCAcknowledges) {
  auto io = As<IOPCAsyncIO>();
  const uint32_t conn = DAdvise(OPCSTMFORMATWRITECOMPLETE);
  ComVariant v = ComVariant::FromI4(5), bad = ComVariant::FromString("x");
  std::vector<OPCHANDLE> h{handles[0], handles[2], handles[3]};
  VARIANT values[] = {*v.get(), *bad.get(), *v.get()};
  uint32_t tid = 0;
  TaskOut<HRESULT> err;
  ASSERT_EQ(io->Write(conn, 3, h.data(), values, &tid, err.put()), S_FALSE);
  EXPECT_EQ(err[0], S_OK);
  EXPECT_EQ(err[1], OPC_E_BADTYPE);
  EXPECT_EQ(err[2], OPC_E_BADRIGHTS);
  EXPECT_EQ(io->Write(conn, 3, h.data(), values, &tid, err.put()), CONNECT_E_ADVISELIMIT);
  Pass();
  Pass();
  EXPECT_TRUE(advise->blocks.empty());
  tagEnv.present = s.clock.Now();
  Tag(0).WriteConfirmed();
  Pass();
  ASSERT_EQ(advise->blocks.size(), 1u);
  opc_sinks::Bytes expected;
  expected.U32(2).U32(kClientGroup).U32(tid).U32(0);
  expected.U32(100).U32(0).U32(102).U32(static_cast<uint32_t>(OPC_E_BADTYPE));
  EXPECT_EQ(advise->blocks[0], expected.data);
}

}  // namespace
