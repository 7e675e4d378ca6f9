// A server process in miniature for OPC client tests: a collection with a
// fake address space, a fake main window, a session log on a fake clock and
// a debug log in a temporary folder.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <string>
#include <vector>

#include "fakes/com_client.h"
#include "fakes/temp_folder.h"
#include "log/logger.h"
#include "log/session_log.h"
#include "model/norvo_var.h"
#include "opc/opc_da.h"
#include "opc/opc_server.h"
#include "opc/opc_server_collection.h"

namespace opc_session {

inline bool SameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// A handful of tags found by item ID, ignoring case.
class FakeAddressSpace final : public IOPCAddressSpace {
 public:
  TNorvoVar& Add(const std::string& itemID, uint8_t type, int accessRights = 3) {
    auto tag = std::make_unique<TNorvoVar>(nullptr, itemID);
    tag->FItemID = itemID;
    tag->FVarType = type;
    tag->FAccessRights = accessRights;
    tags.push_back(std::move(tag));
    return *tags.back();
  }
  TNorvoVar* FindItem(const std::string& itemID) override {
    ++lookups;
    for (auto& t : tags) {
      if (SameText(t->FItemID, itemID)) return t.get();
    }
    return nullptr;
  }
  void TagUnreferenced(TNorvoVar* tag) override { unreferenced.push_back(tag); }

  std::vector<std::unique_ptr<TNorvoVar>> tags;
  std::vector<TNorvoVar*> unreferenced;
  size_t lookups = 0;
};

class FakeServerHost final : public IOPCServerHost {
 public:
  TDateTime ServerStartTime() const override { return startTime; }
  bool MainWindowShown() const override { return shown; }
  bool WaitForClient() const override { return waitForClient; }
  void RestartAutoConnectCountdown() override { ++countdownRestarts; }

  TDateTime startTime = 46000.5;
  bool shown = true;
  bool waitForClient = false;
  int countdownRestarts = 0;
};

// The session and debug logs are declared before the collection, so that
// server objects a test leaks past the collection find them gone cleanly.
class Session {
 public:
  Session() : sessionLog(options, clock, nullptr, folder.Slash(), "1.0"), logger(folder.Slash() + "debug.log", &clock) {
    space.Add("PLC_unit.1.Int", ntInt);
    space.Add("PLC_unit.1.Real", ntReal);
    space.Add("PLC_unit.1.Bit", ntBit);
    space.Add("PLC_unit.1.Long", ntLong);
    space.Add("PLC_unit.1.Word", ntWord);
    space.Add("Sys.Version", ntString, 1);
    space.Add("PLC_unit.1.IntArr", ntIntArray);
    TOPCEnvironment& env = collection.Env();
    env.addressSpace = &space;
    env.host = &host;
    env.sessionLog = &sessionLog;
    env.logger = &logger;
    env.clock = &clock;
  }

  TNorvoVar& Tag(const std::string& id) { return *space.FindItem(id); }

  ComPtr<IOPCServer> Connect() {
    ComPtr<IOPCServer> server;
    EXPECT_EQ(collection.CreateServer(IID_IOPCServer, server.put_void()), S_OK);
    return server;
  }

  // A group made by AddGroup; fails the test on any other result than S_OK.
  template <class I = IOPCGroupStateMgt>
  ComPtr<I> AddGroup(IOPCServer* server, const std::string& name, OPCHANDLE* handle = nullptr, int32_t active = 1,
                     uint32_t rate = 1000) {
    ComPtr<I> group;
    OPCHANDLE h = 0;
    uint32_t revised = 0;
    int32_t bias = 0;
    const std::u16string w = com_client::W(name);
    EXPECT_EQ(server->AddGroup(w.c_str(), active, rate, 7, &bias, nullptr, 0x409, &h, &revised, IidOf<I>(),
                               reinterpret_cast<IUnknown**>(group.put())),
              S_OK)
        << name;
    if (handle) *handle = h;
    return group;
  }

  // Adds the item IDs (requested type as given); returns the server handles
  // (0 where refused) and fills errors when asked.
  std::vector<OPCHANDLE> AddItems(IOPCItemMgt* group, const std::vector<std::string>& ids, VARTYPE type = VT_EMPTY,
                                  std::vector<HRESULT>* errors = nullptr, HRESULT* result = nullptr) {
    std::vector<std::u16string> wide;
    for (const auto& id : ids) wide.push_back(com_client::W(id));
    std::vector<OPCITEMDEF> defs(ids.size());
    for (size_t i = 0; i < ids.size(); ++i) {
      defs[i] = OPCITEMDEF{nullptr, wide[i].data(), 1, static_cast<OPCHANDLE>(100 + i), 0, nullptr, type, 0};
    }
    com_client::TaskOut<OPCITEMRESULT> res;
    com_client::TaskOut<HRESULT> err;
    HRESULT hr = group->AddItems(static_cast<uint32_t>(defs.size()), defs.data(), res.put(), err.put());
    res.SetCount(ids.size());
    if (result) *result = hr;
    std::vector<OPCHANDLE> handles;
    if (!res) return handles;
    for (size_t i = 0; i < ids.size(); ++i) {
      handles.push_back(res[i].hServer);
      if (errors) errors->push_back(err[i]);
    }
    return handles;
  }

  const std::vector<std::string>& SessionLines() const { return sessionLog.Memo().Lines(); }
  bool SessionHas(const std::string& line) const {
    const auto& l = SessionLines();
    return std::find(l.begin(), l.end(), line) != l.end();
  }
  std::string NowText() const { return TSessionLog::TimeDateText(clock.Now()); }
  std::string DebugLog() const { return TempFolder::ReadFile(logger.FileName()); }

  TempFolder folder;
  FakeClock clock;
  TLogOptions options;
  FakeAddressSpace space;
  FakeServerHost host;
  TSessionLog sessionLog;
  TLogger logger;
  TOPCServerCollection collection;
};

}  // namespace opc_session
