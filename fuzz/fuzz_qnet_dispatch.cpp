// Received bytes through a driver's frame extraction and dispatch, with one
// request open: two PLCs with tags of every wire type, sockets between them,
// a transport that only records and a clock that moves only by the input.
//
// Input: two set-up bytes, then chunks each led by a control byte.
//   set-up 1: bits 0-2 the request kind (mod 6), bit 3 block requests only,
//             bit 4 a UDP driver, bit 5 the request goes to the second PLC,
//             bit 6 a socket tag is orphaned first, bit 7 a PLC password.
//   set-up 2: bit 0 a request tag is orphaned while in flight, bit 1 the
//             target PLC leaves the set while its request is open, bit 2
//             logging off, bit 3 a small message size.
//   control: bits 0-4 the chunk length ((n * 16) + 1), bit 5 open the request
//            again after the chunk if it was answered, bits 6-7 the gap
//            before the chunk (0, 10, 100 or 3000 ms).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "comm/comm_driver.h"
#include "comm/comm_environment.h"
#include "model/norvo_model.h"
#include "model/orphan_list.h"
#include "model/tag_environment.h"

namespace {

constexpr int kMyNAD = 100;
constexpr int kNadA = 1;
constexpr int kNadB = 2;

class RecordingTransport final : public ICommTransport {
 public:
  void SetActive(bool Active) override { active = Active; }
  bool IsOpen() const override { return active; }
  void Send(std::span<const uint8_t> Frame) override {
    if (Frame.size() < kQnetMinFrameSize || Frame.size() > kQnetTxBufferSize) std::abort();
    ++sent;
  }
  void Poll() override {}
  bool Busy() const override { return false; }
  bool active = true;
  size_t sent = 0;
};

class TagEnv final : public ITagEnvironment {
 public:
  explicit TagEnv(const FakeClock& c) : clock(c) {}
  bool EnableBad() const override { return true; }
  bool EnableUncertain() const override { return true; }
  uint32_t UncertainTime() const override { return 5; }
  uint32_t BadTime() const override { return 10; }
  TDateTime CachedNow() const override { return clock.Now(); }
  uint32_t CachedTick() const override { return clock.TickCount(); }
  TDateTime PresentTime() const override { return clock.Now(); }
  bool PermissionRecent() const override { return true; }
  const FakeClock& clock;
};

class Orphans final : public IOrphanList {
 public:
  std::unique_ptr<TNorvoVar> TakeOrphan(std::string_view) override { return nullptr; }
  void AddOrphan(std::unique_ptr<TNorvoVar> Tag) override { tags.push_back(std::move(Tag)); }
  std::vector<std::unique_ptr<TNorvoVar>> tags;
};

class Env final : public ICommEnvironment {
 public:
  const TAppliedSettings& Applied() const override { return applied; }
  bool Communicating() const override { return true; }
  bool Shown() const override { return true; }
  const Clock& Time() const override { return clock; }
  TServerCommCounters& Counters() override { return counters; }
  void Log(const std::string& Line, bool) override { logged += Line.size(); }
  void LogDebug(const std::string& Line) override { logged += Line.size(); }
  bool IsKnownPLC(const TNorvoModel* PLC) const override {
    return std::any_of(plcs.begin(), plcs.end(), [PLC](const auto& p) { return p.get() == PLC; });
  }
  // The project set's rule: others' input sockets from the sender when
  // addressed or broadcast, and the sender's own output socket.
  void DistributeSocketData(int SenderNAD, int ReceiverNAD, const uint8_t* Data, size_t Length) override {
    for (const auto& plc : plcs) {
      TQNETSocket* s = nullptr;
      if (plc->FNAD != SenderNAD) {
        if (ReceiverNAD == plc->FNAD || ReceiverNAD == 0) s = plc->FindSocket(true, SenderNAD);
      } else {
        s = plc->FindSocket(false, ReceiverNAD);
      }
      if (s) s->ReceiveData(Length, Data);
    }
  }
  void DoNextMasterStep(TCommDriver&) override { ++masterSteps; }

  TAppliedSettings applied;
  FakeClock clock;
  TServerCommCounters counters;
  std::vector<std::unique_ptr<TNorvoModel>> plcs;
  size_t logged = 0;
  int masterSteps = 0;
};

TNorvoVar& AddTag(TNorvoModel& plc, const char* name, uint8_t type, int address, TNorvoVar* head = nullptr) {
  auto t = std::make_unique<TNorvoVar>(&plc, name);
  t->FVarType = type;
  t->FAddress = address;
  t->FValue = static_cast<int32_t>(static_cast<uint32_t>(address) * 0x01010101u);
  t->FArrayHead = head;
  return plc.AddTag(std::move(t));
}

// Scalars laid out contiguously from 0x10, so block reads and writes can be
// formed; an int array too far away for one block, so a read of every tag
// goes as a list unless lists are off.
void BuildPLC(TNorvoModel& plc, int nad, int partner, TCommDriver& driver, IOrphanList& orphans) {
  plc.FNAD = nad;
  plc.FName = "U." + std::to_string(nad);
  plc.FDriver = &driver;
  plc.FOrphans = &orphans;
  AddTag(plc, "B", ntBit, 0x10);
  AddTag(plc, "W", ntWord, 0x11);
  AddTag(plc, "I", ntInt, 0x13);
  AddTag(plc, "L", ntLong, 0x15);
  AddTag(plc, "R", ntReal, 0x19);
  AddTag(plc, "B2", ntBit, 0x1D);
  TNorvoVar& head = AddTag(plc, "A", ntIntArray, 0x300);
  AddTag(plc, "A[0]", ntInt, 0x300, &head);
  AddTag(plc, "A[1]", ntInt, 0x302, &head);

  auto out = std::make_unique<TQNETSocket>(false, partner);
  auto in = std::make_unique<TQNETSocket>(true, partner);
  for (const char* n : {"L", "B", "I", "A[1]", "B2", "W", "R"}) out->AddTag(*plc.FindTag(n));
  for (const char* n : {"R", "A[0]", "B"}) in->AddTag(*plc.FindTag(n));
  out->FOwner = in->FOwner = &plc;
  plc.FSockets.push_back(std::move(out));
  plc.FSockets.push_back(std::move(in));
}

// Forms a request the way the scheduler offers tags: in list order until
// the driver closes it.
void FormRequest(TCommDriver& driver, uint8_t kind, TNorvoModel& plc) {
  driver.ClearRequest();
  if (kind != RD_DATA && kind != WR_DATA && kind != RD_DATA_PERIODIC) return;
  int32_t last = -1;
  bool open = true;
  for (size_t i = 0; i < plc.FTags.size() && open; ++i) {
    TNorvoVar* tag = plc.FTags[i].get();
    if (VarTypeSize(tag->FVarType) == 0) continue;
    if (kind == WR_DATA) tag->FWriteRequest = tag->FWritePending = true;
    else tag->FReadRequest = true;
    open = driver.AddToRequest(kind, tag, static_cast<int32_t>(i), last);
  }
  if (open) driver.AddToRequest(kind, nullptr, 0, last);
}

void OpenRequest(TCommDriver& driver, uint8_t kind, TNorvoModel& plc) {
  FormRequest(driver, kind, plc);
  driver.SendRequest(kind, kNadA, kind == CLOSE_PERM ? nullptr : &plc);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  static constexpr uint8_t kKinds[] = {RD_DATA, WR_DATA, RD_DATA_PERIODIC, CLOSE_PERM, RD_STATUS, WR_UPDATE_RTC};
  const uint8_t setup = data[0];
  const uint8_t setup2 = data[1];
  const uint8_t kind = kKinds[(setup & 7) % 6];

  Env env;
  TagEnv tagEnv(env.clock);
  ScopedTagEnvironment installed(tagEnv);
  Orphans orphans;
  env.applied.FMyNAD = kMyNAD;
  env.applied.FBackwardCompatible = (setup & 0x08) != 0;
  env.applied.FPLCPassword = (setup & 0x80) ? 0xBEEF : 0;
  env.applied.FLogSerialComm = env.applied.FLogCommActions = env.applied.FLogRxMessages = (setup2 & 0x04) == 0;
  if (setup2 & 0x08) env.applied.FMaxBlockSize = 24;

  TCommunicationSettings settings;
  settings.FDriverType = (setup & 0x10) ? kDriverUDP : kDriverSerial;
  settings.FCommPort = 1;
  auto driver = std::make_unique<TCommDriver>(settings);
  driver->Attach(&env);
  auto transport = std::make_unique<RecordingTransport>();
  RecordingTransport& tx = *transport;
  driver->SetTransport(std::move(transport));

  for (int nad : {kNadA, kNadB}) {
    env.plcs.push_back(std::make_unique<TNorvoModel>());
    BuildPLC(*env.plcs.back(), nad, nad == kNadA ? kNadB : kNadA, *driver, orphans);
  }
  TNorvoModel& target = *env.plcs[(setup & 0x20) ? 1 : 0];
  // A tag released after its sockets were built: the others must still
  // decode from their own bytes.
  if (setup & 0x40) target.OrphanTag(target.FindTag("I"));

  OpenRequest(*driver, kind, target);
  // Released while in flight, a referenced tag stays in the request as an
  // orphan; a removed PLC's request stays open with its tags held (here the
  // PLC itself is held, as the project set holds the tags).
  if ((setup2 & 0x01) && !driver->FRequestVars.empty()) target.OrphanTag(driver->FRequestVars.back());
  std::vector<std::unique_ptr<TNorvoModel>> removed;
  if (setup2 & 0x02) {
    const auto it = std::find_if(env.plcs.begin(), env.plcs.end(), [&](const auto& p) { return p.get() == &target; });
    removed.push_back(std::move(*it));
    env.plcs.erase(it);
  }

  size_t pos = 2;
  while (pos < size) {
    const uint8_t ctl = data[pos++];
    const size_t len = std::min<size_t>(size - pos, (ctl & 0x1F) * 16u + 1u);
    static constexpr uint32_t kGaps[] = {0, 10, 100, 3000};
    env.clock.Advance(kGaps[ctl >> 6]);
    driver->ReceiveChunk({data + pos, len});
    if (driver->FRx.FCount > kQnetRxBufferSize) std::abort();
    pos += len;
    if ((ctl & 0x20) && removed.empty() && !driver->OpenRequestPLC()) OpenRequest(*driver, kind, target);
  }
  // Drain what waits without new bytes.
  for (int i = 0; i < 8; ++i) driver->ReceiveChunk({});

  // Every tag the driver still lists must be one the PLCs or orphans own.
  for (TNorvoVar* tag : driver->FRequestVars) {
    bool owned = std::any_of(orphans.tags.begin(), orphans.tags.end(), [tag](const auto& t) { return t.get() == tag; });
    for (const auto* list : {&env.plcs, &removed})
      for (const auto& plc : *list)
        owned = owned || std::any_of(plc->FTags.begin(), plc->FTags.end(), [tag](const auto& t) { return t.get() == tag; });
    if (!owned) std::abort();
  }
  driver->ClearRequest();
  // PLCs go before the driver they point at, as the project set frees them.
  env.plcs.clear();
  removed.clear();
  return tx.sent + env.logged == 0xFFFFFFFF ? 1 : 0;
}
