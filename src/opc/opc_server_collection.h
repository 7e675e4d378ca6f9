// Every server object of the process, and the 25 ms pass that drives their
// groups.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "opc/address_space.h"
#include "opc/handle_table.h"
#include "platform/com_server.h"

class TDA2;
class TOPCGroup;
class TLogger;
class TSessionLog;

// The services the OPC objects use. Null members mean "none": no tags, no
// session log, no main window.
struct TOPCEnvironment {
  IOPCAddressSpace* addressSpace = nullptr;
  IOPCServerHost* host = nullptr;
  TSessionLog* sessionLog = nullptr;
  TLogger* logger = nullptr;  // the process's debug log when null
  const Clock* clock = nullptr;  // the system clock when null

  TLogger& Log() const;
  const Clock& Time() const;
};

class TOPCServerCollection {
 public:
  static constexpr uint32_t kTimerInterval = 25;  // ms

  TOPCServerCollection() = default;
  // Server objects that outlive the collection are detached from it.
  ~TOPCServerCollection();
  TOPCServerCollection(const TOPCServerCollection&) = delete;
  TOPCServerCollection& operator=(const TOPCServerCollection&) = delete;

  TOPCEnvironment& Env() { return FEnv; }
  const TOPCEnvironment& Env() const { return FEnv; }

  // Client callbacks are traced only when set (-DEBUGLOG).
  bool FDebugLog = false;

  // The timer entry point, every 25 ms on the main thread. A call that
  // arrives while a pass runs (a client call let the loop run) is ignored.
  void TimerTick();
  bool TimerEnabled() const { return FTimerEnabled; }

  // Connected clients.
  size_t Count() const { return FServers.size(); }
  const std::vector<TDA2*>& Servers() const { return FServers; }
  // The close of the main window: every server object from the last to the
  // first, stopping at the first sink that fails.
  HRESULT SendShutdownRequests(const std::string& reason);

  // Activation of DA2: a new server object queried for iid.
  HRESULT CreateServer(const IID& iid, void** out);

  // Observes each group tick of a pass, after the group's own work.
  std::function<void(TOPCGroup&, uint32_t)> FAfterGroupTick;

  // Bookkeeping of TDA2's constructor and destructor.
  void Add(TDA2* server) { FServers.push_back(server); }
  void Remove(TDA2* server);

  // Handle sequences shared by every server and group of the process.
  static THandleCounter& GroupHandles();
  static THandleCounter& ItemHandles();

 private:
  TOPCEnvironment FEnv;
  std::vector<TDA2*> FServers;  // not owned; each server lists and unlists itself
  bool FTimerEnabled = true;
};

// The process's collection.
TOPCServerCollection& ServerCollection();

// Lets the COM framework create DA2 objects in `collection`, by CLSID and
// by the ProgID "ZeltaOPC.DA2".
void RegisterDA2Factory(TComServer& server, TOPCServerCollection& collection);
