#include "settings/settings.h"

#include <gtest/gtest.h>

#include <fstream>

#include "fakes/fake_controls.h"
#include "fakes/fake_message_boxes.h"
#include "fakes/temp_folder.h"
#include "platform/registry.h"

namespace {

class SettingsStoreTest : public ::testing::Test {
 protected:
  TempFolder folder;
  FakeMessageBoxes boxes;
  bool warningArmed = false;
  TSettings settings{boxes, warningArmed};

  void SetUp() override {
    SetRegistryLocation(RegistryLocation::InFolder(folder.Path()));
    RegisterSettingsCatalogue(settings);
  }

  // Writes raw values the way an earlier run or an administrator left them.
  template <typename Fn>
  void WithKey(Fn fn) {
    TRegistry reg(RegRoot::LocalMachine);
    ASSERT_TRUE(reg.OpenKey(kSettingsKeyPath, true)) << reg.LastError();
    fn(reg);
  }
  template <typename Fn>
  void ReadKey(Fn fn) const {
    TRegistry reg(RegRoot::LocalMachine);
    ASSERT_TRUE(reg.OpenKeyReadOnly(kSettingsKeyPath)) << reg.LastError();
    fn(reg);
  }
};

TEST_F(SettingsStoreTest, NoKeyGivesCatalogueDefaultsAndWritesNothing) {
  settings.LoadFromRegistry();
  for (const auto& d : settings.Descriptors()) EXPECT_EQ(d.Value, d.DefaultValue);
  EXPECT_EQ(settings.GetValue("edMyNAD"), TSettingValue(100));
  EXPECT_EQ(settings.GetValue("cbDefSerialPort"), TSettingValue(0));
  EXPECT_EQ(settings.GetValue("cbHiddenSerialOn"), TSettingValue(true));
  EXPECT_EQ(settings.GetIdValue(201), TSettingValue(2));
  EXPECT_EQ(settings.GetIdValue(202), TSettingValue(""));
  EXPECT_EQ(settings.GetIdValue(110), TSettingValue(750));
  EXPECT_FALSE(TRegistry(RegRoot::LocalMachine).KeyExists(kSettingsKeyPath));
}

TEST_F(SettingsStoreTest, CatalogueOrderEndsWithIdentifiersAnd108AfterTheOtherWidths) {
  const auto& d = settings.Descriptors();
  ASSERT_GE(d.size(), 16u);
  EXPECT_EQ(d.front().Control->Name, "cbShowTrayIcon");
  std::vector<int32_t> ids;
  for (const auto& x : d)
    if (!x.Control) ids.push_back(x.SettID);
  EXPECT_EQ(ids, (std::vector<int32_t>{100, 101, 102, 103, 104, 105, 106, 107, 109, 110, 108, 200, 201, 202, 300, 301}));
  EXPECT_EQ(d[d.size() - ids.size() - 1].Control->Name, "cbEthUseFullBandwidth");
}

TEST_F(SettingsStoreTest, RegistryFormatOfStoredValues) {
  settings.LoadFromRegistry();
  settings.SetValue("cbEnableBAD", false);
  settings.SetValue("edMaxBlockSize", "256");  // edit text after the dialog
  settings.SetIdValue(200, "/home/op/projects");
  settings.SetIdValue(201, 1);
  ASSERT_TRUE(settings.SaveControlSettings());
  ASSERT_TRUE(settings.SaveIdSettings());

  ReadKey([](TRegistry& reg) {
    EXPECT_EQ(reg.ReadInteger("cbShowTrayIcon"), -1);
    EXPECT_EQ(reg.ReadInteger("cbEnableBAD"), 0);
    EXPECT_EQ(reg.GetDataType("edMaxBlockSize"), RegType::Dword);
    EXPECT_EQ(reg.ReadInteger("edMaxBlockSize"), 256);
    EXPECT_EQ(reg.ReadString("SettID200"), "/home/op/projects");
    EXPECT_EQ(reg.GetDataType("SettID202"), RegType::Sz);
    EXPECT_EQ(reg.ReadInteger("SettID201"), 1);
    EXPECT_EQ(reg.ReadInteger("SettID108"), 55);
  });
}

TEST_F(SettingsStoreTest, SavingControlsAndIdentifiersAreSeparate) {
  settings.LoadFromRegistry();
  ASSERT_TRUE(settings.SaveIdSettings());
  ReadKey([](TRegistry& reg) {
    EXPECT_TRUE(reg.ValueExists("SettID100"));
    EXPECT_FALSE(reg.ValueExists("cbShowTrayIcon"));
  });
  ASSERT_TRUE(settings.SaveControlSettings());
  ReadKey([](TRegistry& reg) { EXPECT_TRUE(reg.ValueExists("cbShowTrayIcon")); });
}

TEST_F(SettingsStoreTest, LoadReadsBackAndKeepsDefaultsForUnreadableValues) {
  WithKey([](TRegistry& reg) {
    reg.WriteInteger("cbShowTrayIcon", 0);
    reg.WriteInteger("cbForcedOnChange", 1);    // any non-zero is ticked
    reg.WriteString("edMyNAD", "77");           // wrong type: default
    reg.WriteInteger("edMasterTimeOut", 2500);
    reg.WriteString("SettID201", "1");          // wrong type: default
    reg.WriteInteger("SettID103", 222);
    reg.WriteInteger("SettID202", 5);           // wrong type: default
    reg.WriteString("SettID300", "secret");
  });
  settings.LoadFromRegistry();
  EXPECT_FALSE(settings.GetValue("cbShowTrayIcon").AsBool());
  EXPECT_TRUE(settings.GetValue("cbForcedOnChange").AsBool());
  EXPECT_EQ(settings.GetValue("edMyNAD"), TSettingValue(100));
  EXPECT_EQ(settings.GetValue("edMasterTimeOut"), TSettingValue(2500));
  EXPECT_EQ(settings.GetIdValue(201), TSettingValue(2));
  EXPECT_EQ(settings.GetIdValue(103), TSettingValue(222));
  EXPECT_EQ(settings.GetIdValue(202), TSettingValue(""));
  EXPECT_EQ(settings.GetIdValue(300), TSettingValue("secret"));

  // Loaded values are kept as read; a box ticked through the dialog is -1.
  ASSERT_TRUE(settings.SaveControlSettings());
  ReadKey([](TRegistry& reg) { EXPECT_EQ(reg.ReadInteger("cbForcedOnChange"), 1); });
  FakeSettingsControls controls;
  settings.WriteToControls(controls);
  settings.ReadFromControls(controls);
  ASSERT_TRUE(settings.SaveControlSettings());
  ReadKey([](TRegistry& reg) { EXPECT_EQ(reg.ReadInteger("cbForcedOnChange"), -1); });
}

TEST_F(SettingsStoreTest, ControlsRoundTripAndDefaultsRestoreOnlyTheControl) {
  settings.LoadFromRegistry();
  FakeSettingsControls controls;
  settings.WriteToControls(controls);
  EXPECT_TRUE(controls.checked.at("cbShowTrayIcon"));
  EXPECT_EQ(controls.texts.at("edMaxBlockSize"), "512");
  EXPECT_EQ(controls.indexes.at("cbTagNameFormat"), 0);

  controls.checked["cbShowTrayIcon"] = false;
  controls.texts["edMaxBlockSize"] = "128";
  controls.indexes["cbDefSerialPort"] = 3;
  settings.ReadFromControls(controls);
  EXPECT_EQ(settings.GetValue("cbShowTrayIcon"), TSettingValue(false));
  EXPECT_EQ(settings.GetValue("edMaxBlockSize"), TSettingValue("128"));
  EXPECT_EQ(settings.GetValue("cbDefSerialPort"), TSettingValue(3));

  settings.RestoreDefault(controls, "edMaxBlockSize");
  settings.RestoreDefault(controls, "cbShowTrayIcon");
  EXPECT_EQ(controls.texts.at("edMaxBlockSize"), "512");
  EXPECT_TRUE(controls.checked.at("cbShowTrayIcon"));
  EXPECT_EQ(settings.GetValue("edMaxBlockSize"), TSettingValue("128"));

  // Unknown controls and identifiers read as integer 0 and are ignored on set.
  EXPECT_EQ(settings.GetValue("edNoSuch"), TSettingValue(0));
  EXPECT_EQ(settings.GetIdValue(999), TSettingValue(0));
  settings.SetIdValue(999, 5);
  EXPECT_EQ(settings.GetIdValue(999), TSettingValue(0));
}

TEST_F(SettingsStoreTest, UnwritableKeyWarnsOncePerArming) {
  // A regular file where the registry folder should be: nothing can be created.
  const std::string blocker = folder.Slash() + "blocker";
  std::ofstream(blocker) << "x";
  SetRegistryLocation(RegistryLocation::InFolder(blocker + "/reg"));
  settings.LoadFromRegistry();

  EXPECT_FALSE(settings.SaveIdSettings());
  EXPECT_TRUE(boxes.errors.empty());  // automatic saves stay quiet

  warningArmed = true;
  EXPECT_FALSE(settings.SaveControlSettings());
  EXPECT_FALSE(settings.SaveIdSettings());
  EXPECT_EQ(boxes.errors, std::vector<std::string>{"Unable to modify system registry, please log on with administrator rights"});
  EXPECT_FALSE(warningArmed);
}

TEST(SettingValue, ConversionsBetweenKinds) {
  EXPECT_EQ(TSettingValue(true).TryInteger(), -1);
  EXPECT_EQ(TSettingValue(" 42 ").TryInteger(), 42);
  EXPECT_EQ(TSettingValue("-7").AsInteger(), -7);
  EXPECT_EQ(TSettingValue("abc").TryInteger(), std::nullopt);
  EXPECT_EQ(TSettingValue("12abc").AsInteger(99), 99);
  EXPECT_EQ(TSettingValue("99999999999").TryInteger(), 99999999999);
  EXPECT_TRUE(TSettingValue(-1).AsBool());
  EXPECT_TRUE(TSettingValue("TRUE").AsBool());
  EXPECT_FALSE(TSettingValue("0").AsBool());
  EXPECT_FALSE(TSettingValue("junk").AsBool());
  EXPECT_EQ(TSettingValue(512).AsString(), "512");
  EXPECT_EQ(TSettingValue(false).AsString(), "False");
  EXPECT_TRUE(TSettingValue(false).IsNumeric());
  EXPECT_TRUE(TSettingValue("").IsString());
}

}  // namespace
