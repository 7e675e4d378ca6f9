// "COM" + n to a device path, through the registry or the default.
#include <gtest/gtest.h>

#include "fakes/temp_folder.h"
#include "platform/registry.h"
#include "platform/serial_device_names.h"

namespace {

class SerialDeviceNames : public ::testing::Test {
 protected:
  void SetUp() override {
    saved = GetRegistryLocation();
    SetRegistryLocation(RegistryLocation::InFolder(folder.Path()));
  }
  void TearDown() override { SetRegistryLocation(saved); }
  TempFolder folder;
  RegistryLocation saved;
};

TEST_F(SerialDeviceNames, DefaultsToTtySCountedFromZero) {
  EXPECT_EQ(SerialDeviceName(1), "/dev/ttyS0");
  EXPECT_EQ(SerialDeviceName(16), "/dev/ttyS15");
  EXPECT_EQ(SerialDeviceName(0), "");
  EXPECT_EQ(SerialDeviceName(-3), "");
}

TEST_F(SerialDeviceNames, RegistryMapsSingleNames) {
  TRegistry reg(RegRoot::LocalMachine);
  ASSERT_TRUE(reg.OpenKey(kSerialPortsKey, true)) << reg.LastError();
  ASSERT_TRUE(reg.WriteString("COM3", "/dev/ttyUSB0"));
  ASSERT_TRUE(reg.WriteString("COM4", ""));          // empty: not a mapping
  ASSERT_TRUE(reg.WriteInteger("COM5", 7));          // not a string: ignored
  EXPECT_EQ(SerialDeviceName(3), "/dev/ttyUSB0");
  EXPECT_EQ(SerialDeviceName(4), "/dev/ttyS3");
  EXPECT_EQ(SerialDeviceName(5), "/dev/ttyS4");
  EXPECT_EQ(SerialDeviceName(2), "/dev/ttyS1");
}

}  // namespace
