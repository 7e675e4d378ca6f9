#include "platform/serial_device_names.h"

#include "platform/registry.h"

std::string SerialDeviceName(int Number) {
  const std::string name = "COM" + std::to_string(Number);
  TRegistry reg(RegRoot::LocalMachine);
  if (reg.OpenKeyReadOnly(kSerialPortsKey)) {
    if (auto mapped = reg.ReadString(name); mapped && !mapped->empty()) return *mapped;
  }
  if (Number < 1) return {};
  return "/dev/ttyS" + std::to_string(Number - 1);
}
