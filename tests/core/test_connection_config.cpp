// The project list and connections in the registry.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "core/connection_config.h"
#include "fakes/fake_message_boxes.h"
#include "fakes/temp_folder.h"
#include "platform/registry.h"

namespace {

class ConnectionConfigTest : public ::testing::Test {
 protected:
  ConnectionConfigTest() : previous_(GetRegistryLocation()) {
    std::filesystem::create_directories(tmp.Path() + "/reg");
    SetRegistryLocation(RegistryLocation::InFolder(tmp.Path() + "/reg"));
  }
  ~ConnectionConfigTest() override { SetRegistryLocation(previous_); }

  // A fresh key object: the store's location is taken at construction.
  TRegistry& Key(const std::string& sub = "") {
    reg = std::make_unique<TRegistry>(RegRoot::LocalMachine);
    EXPECT_TRUE(reg->OpenKey(std::string("\\") + kConfigurationKeyPath + sub, true));
    return *reg;
  }

  TempFolder tmp;
  std::unique_ptr<TRegistry> reg;
  FakeMessageBoxes boxes;

 private:
  RegistryLocation previous_;
};

TEST_F(ConnectionConfigTest, WrittenConfigurationReadsBack) {
  TConnectionConfig out;
  out.FProjectFiles = {"/p/a.alc", "/p/b.alc"};
  out.FUseIndividualConnections = true;
  TCommunicationSettings c;
  c.FConnectionNAD = 12;
  c.FDriverType = kDriverUDP;
  c.FTimeOut = 1500;
  c.FCommPort = 3;
  c.FAutoMaster = true;
  c.FCommMaster = true;
  c.FHost = "127.0.0.7";
  c.FRemoteUDPPort = 8442;
  c.FIPAdrAutodetect = false;
  out.FConnections = {c};
  bool armed = true;
  ASSERT_TRUE(WriteConfiguration(out, armed, boxes));
  EXPECT_TRUE(armed);

  TConnectionConfig in;
  in.FProjectFiles = {"stale"};
  ReadConfiguration(in);
  EXPECT_EQ(in.FProjectFiles, out.FProjectFiles);
  EXPECT_TRUE(in.FUseIndividualConnections);
  ASSERT_EQ(in.FConnections.size(), 1u);
  const TCommunicationSettings& r = in.FConnections[0];
  EXPECT_EQ(r.FConnectionNAD, 12);
  EXPECT_EQ(r.FDriverType, kDriverUDP);
  EXPECT_EQ(r.FTimeOut, 1500);
  EXPECT_EQ(r.FCommPort, 3);
  EXPECT_TRUE(r.FAutoMaster && r.FCommMaster);
  EXPECT_EQ(r.FHost, "127.0.0.7");
  EXPECT_EQ(r.FRemoteUDPPort, 8442);
  EXPECT_FALSE(r.FIPAdrAutodetect);

  // A shorter list later leaves the old values; the count decides.
  out.FProjectFiles = {"/p/a.alc"};
  ASSERT_TRUE(WriteConfiguration(out, armed, boxes));
  EXPECT_TRUE(Key().ValueExists("ProjectFile1"));
  ReadConfiguration(in);
  EXPECT_EQ(in.FProjectFiles, out.FProjectFiles);
}

TEST_F(ConnectionConfigTest, GapsAndMissingValues) {
  TRegistry& k = Key();
  k.WriteInteger("ProjectsCount", 3);
  k.WriteString("ProjectFile0", "/p/a.alc");
  k.WriteString("ProjectFile2", "/p/c.alc");
  TRegistry& c = Key("\\IndividualConnections");
  c.WriteInteger("ConnectionsCount", 3);
  c.WriteInteger("C0_NAD", 5);
  c.WriteInteger("C0_DriverCommPort", 2);
  c.WriteInteger("C1_NAD", 6);
  c.WriteInteger("C1_DriveType", 258);  // no byte: no driver
  // C2 has no _NAD: the list ends there.
  c.WriteInteger("C2_DriveType", 1);

  TConnectionConfig in;
  in.FUseIndividualConnections = true;
  ReadConfiguration(in);
  EXPECT_EQ(in.FProjectFiles, (std::vector<std::string>{"/p/a.alc", "", "/p/c.alc"}));
  EXPECT_FALSE(in.FUseIndividualConnections);  // missing value: false
  ASSERT_EQ(in.FConnections.size(), 2u);
  EXPECT_EQ(in.FConnections[0].FDriverType, 0);
  EXPECT_EQ(in.FConnections[0].FCommPort, 2);
  EXPECT_TRUE(in.FConnections[0].FIPAdrAutodetect);
  EXPECT_EQ(in.FConnections[1].FDriverType, 0);
}

TEST_F(ConnectionConfigTest, WrongTypesEndTheListAndAMissingKeyKeepsTheFlag) {
  TConnectionConfig in;
  in.FUseIndividualConnections = true;
  in.FProjectFiles = {"x"};
  ReadConfiguration(in);
  EXPECT_TRUE(in.FProjectFiles.empty());
  EXPECT_TRUE(in.FUseIndividualConnections);

  TRegistry& k = Key();
  k.WriteInteger("ProjectsCount", 3);
  k.WriteString("ProjectFile0", "/p/a.alc");
  k.WriteInteger("ProjectFile1", 7);
  k.WriteString("ProjectFile2", "/p/c.alc");
  ReadConfiguration(in);
  EXPECT_EQ(in.FProjectFiles, std::vector<std::string>{"/p/a.alc"});

  k.WriteInteger("ProjectsCount", 2000000000);  // damaged: bounded, not billions of paths
  k.DeleteValue("ProjectFile1");
  ReadConfiguration(in);
  EXPECT_EQ(in.FProjectFiles.size(), static_cast<size_t>(kMaxProjectFiles));
}

TEST_F(ConnectionConfigTest, AFailedWriteWarnsOncePerArming) {
  const std::string blocker = tmp.Path() + "/file";
  std::ofstream(blocker) << "x";
  SetRegistryLocation(RegistryLocation::InFolder(blocker + "/reg"));
  TConnectionConfig out;
  out.FProjectFiles = {"/p/a.alc"};
  bool armed = true;
  EXPECT_FALSE(WriteConfiguration(out, armed, boxes));
  EXPECT_FALSE(WriteConfiguration(out, armed, boxes));
  EXPECT_EQ(boxes.errors, std::vector<std::string>{kRegistryRightsMessage});
  EXPECT_FALSE(armed);
}

}  // namespace
