// The serial side of a communication driver: the port's life with the
// communication switch, polled input into the receive buffer, and the send
// of a built frame. Single-threaded: the master timer calls PollReceive,
// the command layer calls SendSerial.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "comm/qnet_frame.h"
#include "comm/transport_host.h"
#include "platform/clock.h"
#include "platform/serial_port.h"

// Port indicator states (also used by the UDP drivers' shared indicator).
inline constexpr int kIndicatorHidden = 0;
inline constexpr int kIndicatorCantOpen = 55;
inline constexpr int kIndicatorDsrLow = 56;
inline constexpr int kIndicatorDsrHigh = 57;

// Waiting counts from this size on are discarded at the port.
inline constexpr size_t kSerialPurgeCount = 2900;
// The most bytes taken from the port in one receive.
inline constexpr size_t kSerialReadLimit = 2899;

class TSerialTransport {
 public:
  using TDeviceResolver = std::function<std::string(int)>;

  // OpenSerial: the port object is created closed with an empty receive
  // buffer. Host, Stamp (shared by all serial drivers) and Clock are owned
  // by the caller and outlive the transport. Resolver maps the port number
  // to a device path at each open (SerialDeviceName by default).
  TSerialTransport(int CommPort, std::unique_ptr<ISerialPort> Port, ITransportHost& Host, TQnetRxStamp& Stamp,
                   const Clock& Clock, TDeviceResolver Resolver = {});
  // CloseSerial: awaits a pending write and closes the port.
  ~TSerialTransport();
  TSerialTransport(const TSerialTransport&) = delete;
  TSerialTransport& operator=(const TSerialTransport&) = delete;

  // Opens (when closed) or closes (when open) the port; errors are
  // swallowed and leave the port closed. Ends with PortStateChanged.
  void SetActive(bool Active);
  bool IsOpen() const { return FPort && FPort->IsOpen(); }

  // The master timer's poll of the port.
  void PollReceive();
  // Reads and processes up to Count waiting bytes.
  void ReceiveSerial(size_t Count);
  // Sends the frame; a closed port is opened instead and the frame dropped.
  void SendSerial(std::span<const uint8_t> Frame);

  // The indicator state for the port as it is now; Current is kept when the
  // modem lines cannot be read.
  int PortIndicatorState(bool CommActive, int Current);

  int CommPort() const { return FCommPort; }
  // The device the port was last opened (or tried) on.
  const std::string& DevicePath() const { return FDevicePath; }
  // Why the last open failed; empty after a good open.
  const std::string& OpenError() const { return FOpenError; }
  TQnetRxBuffer& RxBuffer() { return FRx; }
  bool Receiving() const { return FReceiving; }
  ISerialPort* Port() { return FPort.get(); }

 private:
  const int FCommPort;
  std::unique_ptr<ISerialPort> FPort;  // null models a driver without a port object
  ITransportHost& FHost;
  TQnetRxStamp& FStamp;
  const Clock& FClock;
  TDeviceResolver FResolver;
  TQnetRxBuffer FRx;
  bool FReceiving = false;
  std::string FDevicePath;
  std::string FOpenError;
};
