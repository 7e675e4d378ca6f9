#include "opc/opc_server.h"

#include <algorithm>
#include <new>

#include "log/session_log.h"
#include "opc/enum_string.h"
#include "opc/enum_unknown.h"
#include "opc/opc_error_strings.h"
#include "opc/opc_group.h"
#include "opc/opc_server_collection.h"
#include "opc/opc_support.h"
#include "opc/server_ids.h"
#include "platform/date_time.h"

namespace {

// Where a server object lands once its collection is gone: no tags, no
// window, no session log.
const TOPCEnvironment& NeutralEnvironment() {
  static const TOPCEnvironment env;
  return env;
}

std::string Utf8(const OLECHAR* s) { return Utf16ToUtf8(OleView(s)); }

}  // namespace

TDA2::TDA2(TOPCServerCollection* collection)
    : FCollection(collection),
      FGroupHandles(TOPCServerCollection::GroupHandles()),
      FConnectionPoints(this),
      FShutdownPoint(&FConnectionPoints.Add(IID_IOPCShutdown, 1)) {
  if (FCollection) FCollection->Add(this);
}

TDA2::~TDA2() {
  const TOPCEnvironment& env = Env();
  if (env.host && env.host->MainWindowShown()) SessionWrite("Client " + FClientName + " disconnected at " + NowText());
  // Groups hold their server, so none is left here; the list goes without
  // touching a group.
  FShutdownPoint->DisconnectAll();
  if (FCollection) FCollection->Remove(this);
}

const TOPCEnvironment& TDA2::Env() const { return FCollection ? FCollection->Env() : NeutralEnvironment(); }

void TDA2::SessionWrite(const std::string& text) const {
  if (TSessionLog* log = Env().sessionLog) log->Write(text, true);
}

std::string TDA2::NowText() const { return TSessionLog::TimeDateText(Env().Time().Now()); }

void* TDA2::QueryExtraInterface(const IID& iid) {
  // The type library's dual interface has no members of its own.
  if (iid == IID_IDA2) return Identity();
  return nullptr;
}

// ---- groups -------------------------------------------------------------------

TOPCGroup* TDA2::FindGroup(const std::string& name) const {
  for (TOPCGroup* g : FGroups) {
    if (g->FName == name) return g;
  }
  return nullptr;
}

ComPtr<TOPCGroup> TDA2::NewGroup() {
  auto group = MakeComObject<TOPCGroup>(this);
  FGroups.push_back(group.get());
  group->FServerHandle = FGroupHandles.Add(group.get());
  return group;
}

void TDA2::RemoveFromList(TOPCGroup* group) {
  auto it = std::find(FGroups.begin(), FGroups.end(), group);
  if (it == FGroups.end()) return;
  FGroups.erase(it);
  FGroupHandles.Remove(group->ServerHandle());
}

void TDA2::GroupDestroyed(TOPCGroup* group) { RemoveFromList(group); }

void TDA2::PurgeDeletedGroups() {
  for (size_t i = FGroups.size(); i-- > 0;) {
    TOPCGroup* g = FGroups[i];
    if (!g->FDeleted || g->ClientRefCount() > 1) continue;
    RemoveFromList(g);
    SessionWrite("Group " + g->FName + " deleted at " + NowText());
  }
}

HRESULT TDA2::AddGroup(const OLECHAR* name, int32_t active, uint32_t requestedUpdateRate, OPCHANDLE clientGroup,
                       int32_t* timeBias, float* percentDeadband, LCID lcid, OPCHANDLE* serverGroup,
                       uint32_t* revisedUpdateRate, const IID& iid, IUnknown** group) {
  if (group) *group = nullptr;
  TCallTrace trace(Env().Log(), "IOPCServer::AddGroup");
  if (!group || !serverGroup || !revisedUpdateRate) return trace.Return(E_INVALIDARG);
  PurgeDeletedGroups();

  std::string groupName = Utf8(name);
  if (!groupName.empty()) {
    if (FindGroup(groupName)) return trace.Return(OPC_E_DUPLICATENAME);
  } else {
    for (size_t n = FGroups.size();; ++n) {
      groupName = "Group" + std::to_string(n);
      if (!FindGroup(groupName)) break;
    }
  }

  HRESULT hr;
  try {
    ComPtr<TOPCGroup> g = NewGroup();
    g->FName = groupName;
    g->FActive = active != 0;
    g->FClientHandle = clientGroup;
    g->FLocaleID = lcid;
    g->FPercentDeadband = percentDeadband ? *percentDeadband : 0.0f;
    g->FUpdateRate = requestedUpdateRate;
    g->FTimeBias = timeBias ? *timeBias : TimeZoneBiasMinutes();
    // A group nobody can reach is freed with `g` when the query fails.
    hr = g->QueryInterface(iid, reinterpret_cast<void**>(group));
    if (SUCCEEDED(hr)) {
      *serverGroup = g->ServerHandle();
      *revisedUpdateRate = g->FUpdateRate;
    }
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  }
  if (FAILED(hr)) *group = nullptr;
  trace.Return(hr);
  if (hr == S_OK) SessionWrite("Client " + FClientName + " created group " + groupName + " at " + NowText());
  return hr;
}

HRESULT TDA2::GetErrorString(HRESULT error, LCID /*locale*/, OLECHAR** text) {
  HRESULT hr = S_OK;
  if (!text) {
    hr = E_INVALIDARG;
  } else if (!(*text = TaskStringUtf8(ErrorText(error)))) {
    hr = E_OUTOFMEMORY;
  }
  TraceLine(Env().Log(), "IOPCServer::GetErrorString", hr);
  return hr;
}

HRESULT TDA2::GetGroupByName(const OLECHAR* name, const IID& iid, IUnknown** group) {
  if (group) *group = nullptr;
  TCallTrace trace(Env().Log(), "IOPCServer::GetGroupByName");
  if (!group) return trace.Return(E_INVALIDARG);
  const std::string groupName = Utf8(name);
  if (groupName.empty()) return trace.Return(E_INVALIDARG);
  TOPCGroup* g = FindGroup(groupName);
  if (!g) return trace.Return(E_FAIL);
  HRESULT hr = g->QueryInterface(iid, reinterpret_cast<void**>(group));
  if (FAILED(hr)) *group = nullptr;
  return trace.Return(hr);
}

HRESULT TDA2::GetStatus(OPCSERVERSTATUS** status) {
  TCallTrace trace(Env().Log(), "IOPCServer::GetStatus");
  if (!status) return trace.Return(E_INVALIDARG);
  *status = nullptr;
  TaskBlock<OPCSERVERSTATUS> s(TaskArray<OPCSERVERSTATUS>(1));
  if (!s) return trace.Return(E_OUTOFMEMORY);
  const TOPCEnvironment& env = Env();
  const FILETIME now = LocalDateTimeToUtcFileTime(env.Time().Now());
  s[0].ftStartTime = env.host ? LocalDateTimeToUtcFileTime(env.host->ServerStartTime()) : now;
  s[0].ftCurrentTime = now;
  s[0].ftLastUpdateTime = now;
  s[0].dwServerState = OPC_STATUS_RUNNING;
  s[0].dwGroupCount = static_cast<uint32_t>(FGroups.size());
  s[0].dwBandWidth = 100;
  s[0].wMajorVersion = 1;
  s[0].wMinorVersion = 8;
  s[0].wBuildNumber = 0;
  s[0].szVendorInfo = TaskStringUtf8(kVendorInfo);
  if (!s[0].szVendorInfo) return trace.Return(E_OUTOFMEMORY);
  *status = s.Release();
  return trace.Return(S_OK);
}

HRESULT TDA2::RemoveGroup(OPCHANDLE serverGroup, int32_t force) {
  TCallTrace trace(Env().Log(), "IOPCServer::RemoveGroup");
  TOPCGroup* g = FGroupHandles.Find(serverGroup);
  if (!g) return trace.Return(E_INVALIDARG);
  if (g->ClientRefCount() >= 2 && force == 0) return trace.Return(OPC_S_INUSE);
  g->FDeleted = true;
  SessionWrite("Group " + g->FName + " deleted at " + NowText());
  return trace.Return(S_OK);
}

HRESULT TDA2::CreateGroupEnumerator(OPCENUMSCOPE scope, const IID& iid, IUnknown** enumerator) {
  if (enumerator) *enumerator = nullptr;
  TCallTrace trace(Env().Log(), "IOPCServer::CreateGroupEnumerator");
  if (!enumerator) return trace.Return(E_INVALIDARG);
  const bool known = scope >= OPC_ENUM_PRIVATE_CONNECTIONS && scope <= OPC_ENUM_ALL;
  // There are no public groups: those scopes list nothing.
  const bool listGroups = known && scope != OPC_ENUM_PUBLIC_CONNECTIONS && scope != OPC_ENUM_PUBLIC;
  HRESULT hr = S_OK;
  try {
    if (iid == IID_IEnumString) {
      TCallTrace inner(Env().Log(), "EnumerateStrings");
      if (!known) return trace.Return(inner.Return(E_INVALIDARG));
      std::vector<std::string> names;
      if (listGroups) {
        for (size_t i = FGroups.size(); i-- > 0;) names.push_back(FGroups[i]->FName);
      }
      *enumerator = TOPCStringsEnumerator::FromUtf8(names).Detach();
      inner.Return(hr);
    } else if (iid == IID_IEnumUnknown) {
      TCallTrace inner(Env().Log(), "EnumerateUnknown");
      if (!known) return trace.Return(inner.Return(E_INVALIDARG));
      std::vector<ComPtr<IUnknown>> objects;
      if (listGroups) {
        for (size_t i = FGroups.size(); i-- > 0;) objects.emplace_back(FGroups[i]->Identity());
      }
      *enumerator = MakeComObject<TS3UnknownEnumerator>(std::move(objects)).Detach();
      inner.Return(hr);
    } else {
      hr = E_NOINTERFACE;
    }
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  }
  return trace.Return(hr);
}

// ---- IOPCCommon -------------------------------------------------------------------

HRESULT TDA2::SetLocaleID(LCID lcid) {
  HRESULT hr = E_INVALIDARG;
  if (lcid == LOCALE_SYSTEM_DEFAULT || lcid == LOCALE_USER_DEFAULT) {
    FLocaleID = lcid;
    hr = S_OK;
  }
  TraceLine(Env().Log(), "IOPCCommon::SetLocaleID", hr);
  return hr;
}

HRESULT TDA2::GetLocaleID(LCID* lcid) {
  HRESULT hr = lcid ? S_OK : E_INVALIDARG;
  if (lcid) *lcid = FLocaleID;
  TraceLine(Env().Log(), "IOPCCommon::GetLocalID", hr);
  return hr;
}

HRESULT TDA2::QueryAvailableLocaleIDs(uint32_t* count, LCID** lcids) {
  HRESULT hr = S_OK;
  if (count) *count = 0;
  if (lcids) *lcids = nullptr;
  if (!count || !lcids) {
    hr = E_INVALIDARG;
  } else if (LCID* a = TaskArray<LCID>(2)) {
    a[0] = LOCALE_SYSTEM_DEFAULT;
    a[1] = LOCALE_USER_DEFAULT;
    *lcids = a;
    *count = 2;
  } else {
    hr = E_FAIL;
  }
  TraceLine(Env().Log(), "IOPCCommon::QueryAvailableLocaleIDs", hr);
  return hr;
}

HRESULT TDA2::GetErrorString(HRESULT error, OLECHAR** text) {
  HRESULT hr = S_OK;
  if (!text) {
    hr = E_INVALIDARG;
  } else if (!(*text = TaskStringUtf8(ErrorText(error)))) {
    hr = E_OUTOFMEMORY;
  }
  TraceLine(Env().Log(), "IOPCCommon::GetErrorString", hr);
  return hr;
}

HRESULT TDA2::SetClientName(const OLECHAR* name) {
  // A null name is taken as empty: the client has nothing to say.
  FClientName = Utf8(name);
  SessionWrite("Client identifies itself as " + FClientName);
  TraceLine(Env().Log(), "IOPCCommon::SetClientName", S_OK);
  return S_OK;
}

// ---- shutdown -----------------------------------------------------------------

HRESULT TDA2::EnumConnectionPoints(IEnumConnectionPoints** out) { return FConnectionPoints.EnumConnectionPoints(out); }

HRESULT TDA2::FindConnectionPoint(const IID& iid, IConnectionPoint** out) {
  return FConnectionPoints.FindConnectionPoint(iid, out);
}

HRESULT TDA2::SendShutdownRequest(const std::string& reason) {
  // A copy: the client may unadvise or release us from inside the call.
  ComPtr<TDA2> self(this);
  auto sinks = FShutdownPoint->Sinks<IOPCShutdown>();
  if (sinks.empty()) return S_OK;
  const std::u16string text = Utf8ToUtf16(reason);
  return sinks.front()->ShutdownRequest(text.c_str());
}
