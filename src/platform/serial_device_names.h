// "COM" + n names a serial device. The operator may map a name to any device
// in HKEY_LOCAL_MACHINE\SOFTWARE\Mirandole\NorvoOPC\SerialPorts (string
// value "COM3" = "/dev/ttyUSB0"); otherwise COM n is /dev/ttyS(n-1).
#pragma once

#include <string>

inline constexpr const char* kSerialPortsKey = "SOFTWARE\\Mirandole\\NorvoOPC\\SerialPorts";

// The device path for COM Number; empty when there is none (Number below 1
// and no mapping), which the port refuses to open.
std::string SerialDeviceName(int Number);
