// Figures for adding OPC items: 100,000 items to one group, 1,000 groups of
// 100 items, and the heap an item takes beyond its tag.
#include <malloc.h>

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

namespace {

class BenchSpace final : public IOPCAddressSpace {
 public:
  explicit BenchSpace(size_t n) {
    tags_.reserve(n);
    for (size_t i = 0; i < n; ++i) {
      auto tag = std::make_unique<TNorvoVar>(nullptr, "Var_" + std::to_string(i));
      tag->FItemID = "PLC_unit.1." + tag->FName;
      tag->FVarType = ntInt;
      byId_[tag->FItemID] = tag.get();
      tags_.push_back(std::move(tag));
    }
  }
  TNorvoVar* FindItem(const std::string& id) override {
    auto it = byId_.find(id);
    return it == byId_.end() ? nullptr : it->second;
  }
  void TagUnreferenced(TNorvoVar*) override {}
  const std::vector<std::unique_ptr<TNorvoVar>>& Tags() const { return tags_; }

 private:
  std::vector<std::unique_ptr<TNorvoVar>> tags_;
  std::unordered_map<std::string, TNorvoVar*> byId_;
};

struct Defs {
  std::vector<std::u16string> ids;
  std::vector<OPCITEMDEF> defs;
  Defs(const BenchSpace& space, size_t first, size_t n) {
    ids.reserve(n);
    for (size_t i = 0; i < n; ++i) ids.push_back(Utf8ToUtf16(space.Tags()[first + i]->FItemID));
    defs.resize(n);
    for (size_t i = 0; i < n; ++i) defs[i] = {nullptr, ids[i].data(), 1, static_cast<OPCHANDLE>(i), 0, nullptr, VT_EMPTY, 0};
  }
};

ComPtr<IOPCItemMgt> NewGroup(IOPCServer* server, const std::string& name) {
  ComPtr<IOPCItemMgt> g;
  OPCHANDLE h = 0;
  uint32_t revised = 0;
  int32_t bias = 0;
  const std::u16string w = Utf8ToUtf16(name);
  server->AddGroup(w.c_str(), 1, 1000, 0, &bias, nullptr, 0, &h, &revised, IID_IOPCItemMgt,
                   reinterpret_cast<IUnknown**>(g.put()));
  return g;
}

bool Add(IOPCItemMgt* g, Defs& d) {
  OPCITEMRESULT* res = nullptr;
  HRESULT* err = nullptr;
  HRESULT hr = g->AddItems(static_cast<uint32_t>(d.defs.size()), d.defs.data(), &res, &err);
  CoTaskMemFree(res);
  CoTaskMemFree(err);
  return hr == S_OK;
}

double Ms(std::chrono::steady_clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

}  // namespace

int main() {
  constexpr size_t kItems = 100000;
  BenchSpace space(kItems);
  TOPCServerCollection collection;
  collection.Env().addressSpace = &space;
  Defs all(space, 0, kItems);
  ComPtr<IOPCServer> server;
  collection.CreateServer(IID_IOPCServer, server.put_void());

  // 1. 100,000 items into one group; best of five bounded runs.
  double best = 1e9;
  size_t perItem = 0;
  for (int run = 0; run < 5; ++run) {
    const size_t before = mallinfo2().uordblks;
    auto g = NewGroup(server.get(), "One" + std::to_string(run));
    auto t0 = std::chrono::steady_clock::now();
    if (!Add(g.get(), all)) return 1;
    best = std::min(best, Ms(std::chrono::steady_clock::now() - t0));
    perItem = (mallinfo2().uordblks - before) / kItems;
  }
  std::printf("AddItems 100000 items, one group: %.1f ms (best of 5)\n", best);
  std::printf("heap per item beyond its tag: %zu bytes\n", perItem);

  // 2. 1,000 groups of 100 items each.
  std::vector<Defs> slices;
  for (size_t i = 0; i < 1000; ++i) slices.emplace_back(space, i * 100, 100);
  std::vector<ComPtr<IOPCItemMgt>> groups;
  groups.reserve(1000);
  auto t0 = std::chrono::steady_clock::now();
  for (size_t i = 0; i < 1000; ++i) {
    groups.push_back(NewGroup(server.get(), "G" + std::to_string(i)));
    if (!Add(groups.back().get(), slices[i])) return 1;
  }
  std::printf("1000 groups of 100 items: %.1f ms\n", Ms(std::chrono::steady_clock::now() - t0));

  // 3. A timer pass over those groups (their ticks are empty for now).
  t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < 100; ++i) collection.TimerTick();
  std::printf("timer pass over 1000 groups: %.3f ms\n", Ms(std::chrono::steady_clock::now() - t0) / 100);

  t0 = std::chrono::steady_clock::now();
  groups.clear();
  server = nullptr;
  std::printf("release of 1000 groups of 100 items: %.1f ms\n", Ms(std::chrono::steady_clock::now() - t0));
  return 0;
}
