// What a transport needs from the driver that owns it. The driver implements
// this; the transports call it for settings, logging, indicator flashes,
// counters and the received frames.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "comm/qnet_frame.h"
#include "settings/applied_settings.h"

class ITransportHost {
 public:
  virtual ~ITransportHost() = default;

  // The project set's communication switch (FCommunicating).
  virtual bool Communicating() const = 0;
  virtual const TAppliedSettings& Applied() const = 0;

  // The session log: Write(Line, Important), and its debug timing lines.
  virtual void LogLine(const std::string& Line, bool Important) = 0;
  virtual void LogDebug(const std::string& Line) = 0;

  // Activity flashes of the port indicator.
  virtual void SignalReceive() = 0;
  virtual void SignalTransmit() = 0;
  // The port was opened or closed: the driver refreshes its indicator.
  virtual void PortStateChanged() = 0;
  // The server's count of transmitted frames (serial frames only).
  virtual void CountTransmittedFrame() = 0;

  // Records and dispatches the frames, counts frame errors against the open
  // request.
  virtual IQnetRxSink& FrameSink() = 0;

  // UDP address detection. The NAD of the PLC of the open request, if any.
  virtual std::optional<uint32_t> OpenRequestNAD() const { return std::nullopt; }
  // The open request's PLC answered from its own address (host order): note
  // it as the PLC's FDedicatedIP and queue SwitchToDedicatedIPAddress.
  virtual void DedicatedAddressFound(uint32_t /*Address*/) {}
  // Communication was stopped while a UDP send or receive still ran: when
  // the main window is closing, ask the application to terminate; show
  // WaitingText in the status bar with the busy cursor.
  virtual void StoppedWhileBusy(const std::string& /*WaitingText*/) {}
};
