#include "settings/applied_settings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "fakes/fake_adapters.h"
#include "fakes/fake_message_boxes.h"
#include "fakes/temp_folder.h"
#include "platform/registry.h"
#include "settings/settings.h"

namespace {

class RecordingHooks final : public IApplySettingsHooks {
 public:
  std::vector<std::string> calls;
  bool projectSet = false;
  bool commActive = false;
  bool connectionChanged = false;
  bool rebuildSucceeds = true;

  bool ProjectSetExists() const override { return projectSet; }
  bool CommActive() const override { return commActive; }
  bool ConnectionChanged() const override { return connectionChanged; }
  void SetConnectionChanged(bool changed) override {
    connectionChanged = changed;
    calls.push_back(changed ? "changed" : "unchanged");
  }
  void SetServerShutdownEnabled(bool enabled) override { calls.push_back(enabled ? "shutdown on" : "shutdown off"); }
  void ShowLegend(bool visible) override { calls.push_back(visible ? "legend on" : "legend off"); }
  void SetCommunication(bool active) override { calls.push_back(active ? "start" : "stop"); }
  bool RebuildDrivers() override {
    calls.push_back("rebuild");
    return rebuildSucceeds;
  }
  void ApplyLogSettings() override { calls.push_back("log"); }
  void UpdateTrayIcon() override { calls.push_back("tray"); }
  void ReloadAllProjects() override { calls.push_back("reload"); }
};

TNetworkAdapter Adapter(const char* name, uint32_t address, uint32_t mask) {
  return TNetworkAdapter{name, name, address, mask};
}

std::string Text(uint32_t hostOrder) { return IPv4Text(hostOrder); }

class ApplySettingsTest : public ::testing::Test {
 protected:
  TempFolder folder;
  FakeMessageBoxes boxes;
  TAppliedSettings applied;
  TSettings settings{boxes, applied.FRegistryWarningArmed};
  FakeNetworkAdapters adapters;
  RecordingHooks hooks;
  TSettingsApplier applier{settings, applied, adapters, hooks};

  void SetUp() override {
    SetRegistryLocation(RegistryLocation::InFolder(folder.Path()));
    adapters.adapters = std::vector<TNetworkAdapter>{Adapter("eth0", 0x7F0A0A05, 0xFFFFFF00),
                                                     Adapter("eth1", 0x7F140001, 0xFFFF0000)};
  }

  template <typename Fn>
  void WithKey(Fn fn) {
    TRegistry reg(RegRoot::LocalMachine);
    ASSERT_TRUE(reg.OpenKey(kSettingsKeyPath, true)) << reg.LastError();
    fn(reg);
  }
  std::optional<int32_t> StoredInteger(const std::string& name) {
    TRegistry reg(RegRoot::LocalMachine);
    if (!reg.OpenKeyReadOnly(kSettingsKeyPath)) return std::nullopt;
    return reg.ReadInteger(name);
  }
  std::optional<std::string> StoredString(const std::string& name) {
    TRegistry reg(RegRoot::LocalMachine);
    if (!reg.OpenKeyReadOnly(kSettingsKeyPath)) return std::nullopt;
    return reg.ReadString(name);
  }
  // What the dialog's OK does with the store.
  void PressOK() {
    applied.FRegistryWarningArmed = true;
    settings.SaveControlSettings();
    settings.SaveIdSettings();
    applier.ApplySettings();
  }
};

TEST_F(ApplySettingsTest, FirstStartAppliesCatalogueDefaults) {
  applier.RegisterSettings();
  EXPECT_EQ(applied.FMyNAD, 100);
  EXPECT_EQ(applied.FDefSerialPort, 1);
  EXPECT_TRUE(applied.FSerialSelected);
  EXPECT_EQ(applied.FMaxBlockSize, 512);
  EXPECT_EQ(applied.FMasterTimeOut, 1000);
  EXPECT_EQ(applied.FMasterMode, 2);
  EXPECT_EQ(applied.FTagNameWarnLen, -1);
  EXPECT_TRUE(applied.FShowTrayIcon);
  EXPECT_FALSE(applied.FLogToFile);
  EXPECT_EQ(applied.FPLCPassword, 0);
  EXPECT_TRUE(boxes.errors.empty());
  // Only the adapter pick was saved; control options wait for the dialog.
  EXPECT_EQ(StoredString("SettID202"), "eth0");
  EXPECT_EQ(StoredInteger("edMyNAD"), std::nullopt);
}

TEST_F(ApplySettingsTest, OutOfRangeStoredValuesAreCorrectedAndWrittenBack) {
  struct Case {
    const char* control;
    int32_t stored;
    int32_t applied;
  };
  const Case cases[] = {
      {"edMasterTimeOut", 50, 300},  {"edMasterTimeOut", 250000, 100000}, {"edMaxBlockSize", 2000, 1024},
      {"edMaxBlockSize", 2, 2},      {"edMaxBlockSize", -5, 0},          {"edMinBlockUsage", 150, 100},
      {"edMyNAD", -1, 0},            {"edBADtime", -3, 0},               {"edUncertainTime", -3, 0},
      {"edTagNameMaxLen", 5000, 5000},
  };
  for (const auto& c : cases) {
    WithKey([&](TRegistry& reg) { reg.WriteInteger(c.control, c.stored); });
    TSettings store(boxes, applied.FRegistryWarningArmed);
    TSettingsApplier a(store, applied, adapters, hooks);
    a.RegisterSettings();
    EXPECT_EQ(store.GetValue(c.control).AsInteger(), c.applied) << c.control << " " << c.stored;
    store.SaveControlSettings();
    EXPECT_EQ(StoredInteger(c.control), c.applied) << c.control << " " << c.stored;
  }
}

TEST_F(ApplySettingsTest, EditTextIsComparedAsNumberAndJunkFallsBackToDefault) {
  applier.RegisterSettings();
  settings.SetValue("edMasterTimeOut", "50");
  settings.SetValue("edMaxBlockSize", "lots");
  settings.SetValue("edMinBlockUsage", " 7");
  applier.ApplySettings();
  EXPECT_EQ(applied.FMasterTimeOut, 300);
  EXPECT_EQ(applied.FMaxBlockSize, 512);
  EXPECT_EQ(applied.FMinBlockUsage, 7);
  EXPECT_EQ(settings.GetValue("edMaxBlockSize"), TSettingValue(512));
}

TEST_F(ApplySettingsTest, DerivedFields) {
  applier.RegisterSettings();
  settings.SetValue("cbWarnTagNameLen", true);
  settings.SetValue("edTagNameMaxLen", "31");
  settings.SetValue("cbDefSerialPort", 3);
  settings.SetIdValue(301, 0x12345);
  settings.SetIdValue(300, "enc");
  applier.ApplySettings();
  EXPECT_EQ(applied.FTagNameWarnLen, 31);
  EXPECT_EQ(applied.FDefSerialPort, 4);
  EXPECT_EQ(applied.FPLCPassword, 0x2345);
  EXPECT_EQ(hooks.calls.back(), "tray");
  EXPECT_NE(std::find(hooks.calls.begin(), hooks.calls.end(), "shutdown off"), hooks.calls.end());

  settings.SetValue("cbWarnTagNameLen", false);
  applier.ApplySettings();
  EXPECT_EQ(applied.FTagNameWarnLen, -1);

  for (const auto& [stored, mode] : std::vector<std::pair<int32_t, int32_t>>{{7, 0}, {0, 0}, {1, 1}, {2, 2}, {-1, 0}}) {
    settings.SetIdValue(201, stored);
    applier.ApplySettings();
    EXPECT_EQ(applied.FMasterMode, mode) << stored;
  }
}

TEST_F(ApplySettingsTest, StoredMasterModeSevenGivesSlave) {
  WithKey([](TRegistry& reg) { reg.WriteInteger("SettID201", 7); });
  applier.RegisterSettings();
  EXPECT_EQ(applied.FMasterMode, 0);
}

TEST_F(ApplySettingsTest, EmptyAdapterNamePicksFirstAndSavesItAtOnce) {
  applier.RegisterSettings();
  EXPECT_EQ(StoredString("SettID202"), "eth0");
  EXPECT_EQ(applied.FAdapterName, "");  // taken up at the next apply
  EXPECT_FALSE(applied.FNoAdapter);
  EXPECT_TRUE(applied.FLocalAddress.Valid);
  EXPECT_EQ(applied.FLocalAddress.Port, 0);
  EXPECT_EQ(Text(applied.FLocalAddress.Address), "127.10.10.5");
  EXPECT_EQ(Text(applied.FBroadcastAddress), "127.10.10.255");

  applier.ApplySettings();
  EXPECT_EQ(applied.FAdapterName, "eth0");
  EXPECT_TRUE(applied.FAdapterChanged);
  EXPECT_EQ(applied.FAppliedAdapterName, "eth0");
  EXPECT_TRUE(hooks.connectionChanged);
}

TEST_F(ApplySettingsTest, NamedAdapterIsMatchedExactly) {
  WithKey([](TRegistry& reg) { reg.WriteString("SettID202", "eth1"); });
  applier.RegisterSettings();
  EXPECT_FALSE(applied.FAdapterChanged);  // drivers were built with it
  EXPECT_EQ(Text(applied.FLocalAddress.Address), "127.20.0.1");
  EXPECT_EQ(Text(applied.FBroadcastAddress), "127.20.255.255");

  settings.SetIdValue(202, "ETH1");
  applier.ApplySettings();
  EXPECT_TRUE(applied.FAdapterChanged);
  EXPECT_FALSE(applied.FNoAdapter);
  EXPECT_EQ(applied.FLocalAddress.Address, 0u);
  EXPECT_EQ(Text(applied.FBroadcastAddress), "127.0.0.1");
}

TEST_F(ApplySettingsTest, NoAdapterAtAllKeepsLoopbackBroadcast) {
  for (const bool readable : {true, false}) {
    if (readable) adapters.adapters = std::vector<TNetworkAdapter>{};
    else adapters.adapters = std::nullopt;
    applier.SelectAdapter("");
    EXPECT_TRUE(applied.FNoAdapter);
    EXPECT_EQ(Text(applied.FBroadcastAddress), "127.0.0.1");
    EXPECT_EQ(applied.FLocalAddress.Address, 0u);
  }
  adapters.adapters = std::vector<TNetworkAdapter>{Adapter("lo", 0x7F000001, 0xFF000000)};
  applier.SelectAdapter("lo");
  EXPECT_FALSE(applied.FNoAdapter);
}

TEST_F(ApplySettingsTest, RunningCommunicationIsStoppedRebuiltAndRestartedInOrder) {
  applier.RegisterSettings();
  hooks.projectSet = true;
  hooks.commActive = true;
  hooks.connectionChanged = true;
  settings.SetValue("cbTagNameFormat", 1);
  hooks.calls.clear();
  applier.ApplySettings();
  EXPECT_EQ(hooks.calls, (std::vector<std::string>{"changed", "shutdown on", "legend on", "stop", "unchanged", "rebuild",
                                                   "start", "log", "tray", "reload"}));
  // The first apply after start takes up the saved adapter: "changed" comes
  // from it; a second apply without changes only stops and starts.
  hooks.calls.clear();
  applier.ApplySettings();
  EXPECT_EQ(hooks.calls, (std::vector<std::string>{"shutdown on", "legend on", "stop", "start", "log", "tray"}));
}

TEST_F(ApplySettingsTest, FailedRebuildAbandonsTheRest) {
  applier.RegisterSettings();
  hooks.projectSet = true;
  hooks.connectionChanged = true;
  hooks.rebuildSucceeds = false;
  settings.SetValue("cbLogEventsToFile", true);
  hooks.calls.clear();
  applier.ApplySettings();
  EXPECT_EQ(hooks.calls.back(), "rebuild");
  EXPECT_FALSE(applied.FLogToFile);
}

TEST_F(ApplySettingsTest, TagNameFormatChangeReloadsOnceAndNotWithoutProjectSet) {
  applier.RegisterSettings();
  settings.SetValue("cbTagNameFormat", 1);
  applier.ApplySettings();  // no project set yet: nothing to reload
  EXPECT_EQ(std::count(hooks.calls.begin(), hooks.calls.end(), "reload"), 0);
  EXPECT_EQ(applied.FAppliedTagNameFormat, 1);

  hooks.projectSet = true;
  settings.SetValue("cbTagNameFormat", 0);
  applier.ApplySettings();
  applier.ApplySettings();
  EXPECT_EQ(std::count(hooks.calls.begin(), hooks.calls.end(), "reload"), 1);
}

TEST_F(ApplySettingsTest, LegendChoiceIsStoredBackAsBoolean) {
  WithKey([](TRegistry& reg) { reg.WriteInteger("cbViewLegend", 1); });
  applier.RegisterSettings();
  EXPECT_EQ(settings.GetValue("cbViewLegend"), TSettingValue(true));
}

TEST_F(ApplySettingsTest, RegistryWarningShownOncePerOK) {
  applier.RegisterSettings();
  const std::string blocker = folder.Slash() + "blocker";
  std::ofstream(blocker) << "x";
  SetRegistryLocation(RegistryLocation::InFolder(blocker + "/reg"));

  PressOK();
  PressOK();
  EXPECT_EQ(boxes.errors.size(), 2u);
  settings.SaveIdSettings();  // as at shutdown: not armed, not shown
  EXPECT_EQ(boxes.errors.size(), 2u);
  EXPECT_EQ(boxes.errors.front(), "Unable to modify system registry, please log on with administrator rights");
}

}  // namespace
