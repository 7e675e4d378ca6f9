#include "opc/opc_server_collection.h"

#include <algorithm>
#include <new>

#include "log/logger.h"
#include "opc/opc_group.h"
#include "opc/opc_server.h"
#include "opc/server_registration.h"

TLogger& TOPCEnvironment::Log() const { return logger ? *logger : Logger(); }

const Clock& TOPCEnvironment::Time() const {
  static const SystemClock system;
  return clock ? *clock : system;
}

TOPCServerCollection::~TOPCServerCollection() {
  for (TDA2* s : FServers) s->Detach();
}

void TOPCServerCollection::Remove(TDA2* server) {
  auto it = std::find(FServers.begin(), FServers.end(), server);
  if (it != FServers.end()) FServers.erase(it);
}

THandleCounter& TOPCServerCollection::GroupHandles() {
  static THandleCounter counter;
  return counter;
}

THandleCounter& TOPCServerCollection::ItemHandles() {
  static THandleCounter counter;
  return counter;
}

namespace {

// Keeps the timer off for the pass and on again afterwards, also when the
// pass ends in an exception.
class TTimerPause {
 public:
  explicit TTimerPause(bool& enabled) : enabled_(enabled) { enabled_ = false; }
  ~TTimerPause() { enabled_ = true; }
  TTimerPause(const TTimerPause&) = delete;
  TTimerPause& operator=(const TTimerPause&) = delete;

 private:
  bool& enabled_;
};

// A group held for the pass: the reference keeps it alive if the client
// releases it from a callback, and is not counted as the client's.
class TPassRef {
 public:
  explicit TPassRef(TOPCGroup* g) : group_(g) { ++group_->FPassRefs; }
  ~TPassRef() {
    if (group_) --group_->FPassRefs;
  }
  TPassRef(TPassRef&& other) noexcept : group_(std::move(other.group_)) {}
  TPassRef(const TPassRef&) = delete;
  TPassRef& operator=(const TPassRef&) = delete;
  TOPCGroup* get() const { return group_.get(); }

 private:
  ComPtr<TOPCGroup> group_;
};

}  // namespace

void TOPCServerCollection::TimerTick() {
  if (!FTimerEnabled) return;
  const uint32_t tick = FEnv.Time().TickCount();
  TTimerPause pause(FTimerEnabled);
  try {
    // References for the pass: a client call or callback during the pass
    // may release any of these, and the walk must not touch freed objects.
    std::vector<ComPtr<TDA2>> servers;
    servers.reserve(FServers.size());
    for (size_t i = FServers.size(); i-- > 0;) servers.emplace_back(FServers[i]);
    for (const auto& server : servers) {
      server->PurgeDeletedGroups();
      std::vector<TPassRef> groups;
      groups.reserve(server->Groups().size());
      for (TOPCGroup* g : server->Groups()) groups.emplace_back(g);
      for (const auto& ref : groups) {
        TOPCGroup* g = ref.get();
        // Still listed: a group removed meanwhile is no longer driven.
        if (server->FindGroupByHandle(g->ServerHandle()) != g) continue;
        if (g->FDeleted || g->FAddingItems || g->Items().empty() || g->ClientRefCount() == 0) continue;
        g->Tick(tick);
        if (FAfterGroupTick) FAfterGroupTick(*g, tick);
      }
    }
  } catch (const std::exception&) {
    // A failed pass must not stop the timer; the next pass starts afresh.
  }
}

HRESULT TOPCServerCollection::SendShutdownRequests(const std::string& reason) {
  std::vector<ComPtr<TDA2>> servers;
  for (size_t i = FServers.size(); i-- > 0;) servers.emplace_back(FServers[i]);
  for (const auto& s : servers) {
    HRESULT hr = s->SendShutdownRequest(reason);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT TOPCServerCollection::CreateServer(const IID& iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  try {
    return QueryNew(MakeComObject<TDA2>(this), iid, out);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

TOPCServerCollection& ServerCollection() {
  static TOPCServerCollection collection;
  return collection;
}

void RegisterDA2Factory(TComServer& server, TOPCServerCollection& collection) {
  SetDA2Factory(server, [&collection](const IID& iid, void** out) { return collection.CreateServer(iid, out); });
}
