// One communication driver: a serial port or a UDP target, shared by every
// PLC that reaches it. This is the part the project set manages (its
// settings copy, its use count, its indicator caption); the transport, the
// frame buffers, the scheduler state and the command layer extend it.
#pragma once

#include <cstdint>
#include <string>

#include "comm/comm_settings.h"

class TCommDriver {
 public:
  explicit TCommDriver(const TCommunicationSettings& Settings);
  TCommDriver(const TCommDriver&) = delete;
  TCommDriver& operator=(const TCommDriver&) = delete;

  bool IsSerial() const { return FSettings.IsSerial(); }
  bool IsUDP() const { return FSettings.IsUDP(); }

  // Its own copy: later changes of the connection list do not reach it
  // until the drivers are rebuilt.
  TCommunicationSettings FSettings;
  // PLCs holding a reference; freed when it drops to zero or below.
  int32_t FUseCount = 0;
  // The status-bar indicator: "COM " + port for serial; UDP drivers share "ETH".
  std::string FPortCaption;
  // IPv4 address (host order) of the Ethernet adapter a UDP driver was bound
  // on; a new adapter choice makes the driver unusable for new PLCs.
  uint32_t FBoundAdapterAddress = 0;
  // The transport object exists (serial port object or bound UDP socket).
  bool FTransportCreated = false;
  // The transport is running (port open).
  bool FActive = false;
  // A request preparation has been asked for and not yet run.
  bool FPreparePending = false;
};
