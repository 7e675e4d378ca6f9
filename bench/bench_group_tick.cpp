// Figures for the group timer: one pass over 1,000 groups of 100 active
// items and over one group of 100,000, with nothing changing and with
// everything changing, and one data change of 10,000 items.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "model/norvo_var.h"
#include "opc/opc_da.h"
#include "opc/opc_group.h"
#include "opc/opc_server.h"
#include "opc/opc_server_collection.h"
#include "opc/opc_support.h"

namespace {

class BenchSpace final : public IOPCAddressSpace {
 public:
  explicit BenchSpace(size_t n) {
    for (size_t i = 0; i < n; ++i) {
      auto tag = std::make_unique<TNorvoVar>(nullptr, "Var_" + std::to_string(i));
      tag->FItemID = "PLC_unit.1." + tag->FName;
      tag->FVarType = ntInt;
      tag->FValid = true;
      byId_[tag->FItemID] = tag.get();
      tags.push_back(std::move(tag));
    }
  }
  TNorvoVar* FindItem(const std::string& id) override {
    auto it = byId_.find(id);
    return it == byId_.end() ? nullptr : it->second;
  }
  void TagUnreferenced(TNorvoVar*) override {}
  std::vector<std::unique_ptr<TNorvoVar>> tags;

 private:
  std::unordered_map<std::string, TNorvoVar*> byId_;
};

class CountingSink final : public ComObject<IOPCDataCallback> {
 public:
  HRESULT OnDataChange(uint32_t, OPCHANDLE, HRESULT, HRESULT, uint32_t count, OPCHANDLE*, VARIANT*, uint16_t*,
                       FILETIME*, HRESULT*) override {
    items += count;
    return S_OK;
  }
  HRESULT OnReadComplete(uint32_t, OPCHANDLE, HRESULT, HRESULT, uint32_t, OPCHANDLE*, VARIANT*, uint16_t*, FILETIME*,
                         HRESULT*) override {
    return S_OK;
  }
  HRESULT OnWriteComplete(uint32_t, OPCHANDLE, HRESULT, uint32_t, OPCHANDLE*, HRESULT*) override { return S_OK; }
  HRESULT OnCancelComplete(uint32_t, OPCHANDLE) override { return S_OK; }
  uint64_t items = 0;
};

struct Setup {
  Setup(size_t groups, size_t perGroup) : space(groups * perGroup) {
    collection.Env().addressSpace = &space;
    collection.Env().clock = &clock;
    clock.SetTick(1000000);
    collection.CreateServer(IID_IOPCServer, server.put_void());
    sink = MakeComObject<CountingSink>();
    for (size_t g = 0; g < groups; ++g) {
      ComPtr<IOPCItemMgt> group;
      OPCHANDLE h = 0;
      uint32_t revised = 0;
      const std::u16string name = Utf8ToUtf16("G" + std::to_string(g));
      server->AddGroup(name.c_str(), 1, 25, 0, nullptr, nullptr, 0, &h, &revised, IID_IOPCItemMgt,
                       reinterpret_cast<IUnknown**>(group.put()));
      std::vector<std::u16string> ids;
      std::vector<OPCITEMDEF> defs;
      for (size_t i = 0; i < perGroup; ++i) ids.push_back(Utf8ToUtf16(space.tags[g * perGroup + i]->FItemID));
      for (size_t i = 0; i < perGroup; ++i) defs.push_back({nullptr, ids[i].data(), 1, 0, 0, nullptr, VT_EMPTY, 0});
      OPCITEMRESULT* res = nullptr;
      HRESULT* err = nullptr;
      group->AddItems(static_cast<uint32_t>(perGroup), defs.data(), &res, &err);
      CoTaskMemFree(res);
      CoTaskMemFree(err);
      ComPtr<IConnectionPointContainer> cpc;
      group->QueryInterface(IID_IConnectionPointContainer, cpc.put_void());
      ComPtr<IConnectionPoint> point;
      cpc->FindConnectionPoint(IID_IOPCDataCallback, point.put());
      uint32_t cookie = 0;
      point->Advise(sink->Identity(), &cookie);
      groupRefs.push_back(group);
    }
  }
  double PassMs(bool changeAll) {
    if (changeAll) {
      // As replies leave them: 64 tags to a reply, each reply its own stamp.
      stamp += 1.0 / 86400.0;
      for (size_t i = 0; i < space.tags.size(); ++i) {
        TNorvoVar& t = *space.tags[i];
        ++t.FValue;
        t.FTimestamp = stamp + static_cast<double>(i / 64) / 86400000.0;
      }
    }
    clock.Advance(25);
    const auto t0 = std::chrono::steady_clock::now();
    collection.TimerTick();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  }
  struct Figures {
    double median;
    double best;
  };
  // Median and fastest of `passes` passes, after two passes that report
  // everything once. The fastest shows the cost on a quiet machine.
  Figures Measure(bool changeAll, int passes) {
    PassMs(false);
    PassMs(false);
    std::vector<double> ms;
    for (int i = 0; i < passes; ++i) ms.push_back(PassMs(changeAll));
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.front()};
  }

  BenchSpace space;
  TDateTime stamp = 46000.5;
  FakeClock clock;
  TOPCServerCollection collection;
  ComPtr<IOPCServer> server;
  ComPtr<CountingSink> sink;
  std::vector<ComPtr<IOPCItemMgt>> groupRefs;
};

void Print(const char* what, Setup::Figures f, const char* note = "") {
  std::printf("%-46s %8.3f ms median, %8.3f ms best%s\n", what, f.median, f.best, note);
}

}  // namespace

int main(int argc, char** argv) {
  Logger().FEnabled = false;
  // An argument picks one case (for profiling): "many", "one", "change" or "idle".
  const std::string only = argc > 1 ? argv[1] : "";
  if (only.empty() || only == "many") {
    Setup s(1000, 100);
    Print("1000 groups x 100 items, nothing changes:", s.Measure(false, 21));
    Print("1000 groups x 100 items, everything changes:", s.Measure(true, 21));
  }
  if (only.empty() || only == "one") {
    Setup s(1, 100000);
    Print("1 group x 100000 items, nothing changes:", s.Measure(false, 21), " (goal < 2 ms)");
    Print("1 group x 100000 items, everything changes:", s.Measure(true, 21));
  }
  if (only == "idle") {
    // Many unchanged passes, for a profiler.
    Setup one(1, 100000);
    Print("1 group x 100000 items, nothing changes:", one.Measure(false, 401));
    Setup many(1000, 100);
    Print("1000 groups x 100 items, nothing changes:", many.Measure(false, 401));
  }
  if (only.empty() || only == "change") {
    Setup s(1, 10000);
    Print("one OnDataChange of 10000 changed items:", s.Measure(true, 21));
  }
  return 0;
}
