// Link use of the request packing on a simulated 19200-baud line, and the
// cost of one preparation over a large PLC.
#include <chrono>
#include <cstdio>
#include <memory>
#include <random>
#include <vector>

#include "comm/qnet_codec.h"
#include "core/scheduler.h"
#include "fakes/fake_message_boxes.h"
#include "fakes/fake_tag_environment.h"
#include "fakes/fake_transport.h"

namespace {

struct Rig {
  FakeTagEnvironment tagEnv;
  FakeMessageBoxes boxes;
  FakeClock clock;
  TAppliedSettings applied;
  TOPCProject project{TProjectSetContext{applied, boxes, clock, nullptr, nullptr}};
  TCommScheduler scheduler{TSchedulerContext{applied, clock, nullptr, nullptr, nullptr, nullptr, nullptr}};
  std::shared_ptr<TFakeTransportState> tx = std::make_shared<TFakeTransportState>();
  TNorvoModel* plc = nullptr;

  Rig() {
    project.FCommunicating = true;
    TCommunicationSettings s;
    s.FDriverType = kDriverSerial;
    s.FCommPort = 1;
    project.FDrivers.push_back(std::make_unique<TCommDriver>(s));
    driver().SetTransport(std::make_unique<TFakeTransport>(tx));
    scheduler.SetProjectSet(&project);
    project.FPLCs.push_back(std::make_unique<TNorvoModel>());
    plc = project.FPLCs.back().get();
    plc->FNAD = 1;
    plc->FDriver = &driver();
  }
  TCommDriver& driver() { return *project.FDrivers[0]; }
  TNorvoVar& Add(uint8_t type, int address) {
    auto t = std::make_unique<TNorvoVar>(plc, "v");
    t->FVarType = type;
    t->FAddress = address;
    return plc->AddTag(std::move(t));
  }
  // Answers the open read; returns the answer's size on the line.
  size_t Answer() {
    TCommDriver& d = driver();
    const size_t n = d.FLastSentKind == RD_STATUS ? 2 : static_cast<size_t>(d.RequestBytes());
    TQnetTxBuffer f;
    EncodeAnswer(f, 1, 100, 1, 0, std::vector<uint8_t>(n, 0));
    d.ReceiveChunk(f.Bytes());
    return f.FTxLength;
  }
};

void LinkUse(int maxBlock) {
  Rig rig;
  rig.applied.FMaxBlockSize = maxBlock;
  rig.applied.FBackgroundRefreshTags = false;
  rig.applied.FBackgroundRefreshStatus = false;
  std::mt19937 rng(7);
  // 4,000 tags over 16 KiB of PLC memory, 1,000 of them requested at random.
  int address = 0;
  std::vector<TNorvoVar*> tags;
  for (int i = 0; i < 4000; ++i) {
    const uint8_t type = std::vector<uint8_t>{ntBit, ntInt, ntLong, ntReal}[rng() % 4];
    tags.push_back(&rig.Add(type, address));
    address += VarTypeSize(type);
  }
  std::shuffle(tags.begin(), tags.end(), rng);
  for (int i = 0; i < 1000; ++i) tags[static_cast<size_t>(i)]->FReadRequest = true;
  size_t lineBytes = 0, useful = 0, requests = 0;
  for (int round = 0; round < 10000; ++round) {
    const size_t before = rig.tx->Sent.size();
    rig.scheduler.PrepareRequest(rig.driver(), -1, 100);
    if (rig.tx->Sent.size() == before) break;
    ++requests;
    lineBytes += rig.tx->Sent.back().size();
    for (const TNorvoVar* t : rig.driver().FRequestVars) useful += static_cast<size_t>(VarTypeSize(t->FVarType));
    lineBytes += rig.Answer();
  }
  const double seconds = static_cast<double>(lineBytes) / 1920.0;
  std::printf("link use, max message %4d: %zu requests, %zu useful bytes in %.2f s of line: %.0f useful B/s of 1920 (%.1f%%)\n",
              maxBlock, requests, useful, seconds, static_cast<double>(useful) / seconds,
              100.0 * static_cast<double>(useful) / static_cast<double>(lineBytes));
}

void PreparationCost() {
  Rig rig;
  for (int i = 0; i < 100000; ++i) rig.Add(ntInt, (i * 2) & 0xFFFF);
  const int rounds = 2000;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < rounds; ++i) {
    if (i % 100 == 0) rig.plc->FTags[static_cast<size_t>((i * 7919) % 100000)]->FReadRequest = true;
    rig.scheduler.PrepareRequest(rig.driver(), -1, 100);
    rig.Answer();
  }
  const double us =
      std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count() / rounds;
  std::printf("preparation over 100,000 tags, few requested: %.1f us per preparation and answer\n", us);
}

}  // namespace

int main() {
  LinkUse(512);
  LinkUse(1024);
  PreparationCost();
  return 0;
}
