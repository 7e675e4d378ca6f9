#include "comm/serial_transport.h"

#include <array>

#include "comm/transport_text.h"
#include "common/reentry_guard.h"
#include "log/log_gates.h"
#include "platform/serial_device_names.h"

TSerialTransport::TSerialTransport(int CommPort, std::unique_ptr<ISerialPort> Port, ITransportHost& Host,
                                   TQnetRxStamp& Stamp, const Clock& Clock, TDeviceResolver Resolver)
    : FCommPort(CommPort),
      FPort(std::move(Port)),
      FHost(Host),
      FStamp(Stamp),
      FClock(Clock),
      FResolver(Resolver ? std::move(Resolver) : TDeviceResolver(SerialDeviceName)) {}

TSerialTransport::~TSerialTransport() {
  // No indicator refresh here: the driver is going away.
  if (FPort && FPort->IsOpen()) FPort->Close();
}

void TSerialTransport::SetActive(bool Active) {
  if (FPort) {
    if (Active && !FPort->IsOpen()) {
      FDevicePath = FResolver(FCommPort);
      FRx.Clear();
      if (FPort->Open(FDevicePath))
        FOpenError.clear();
      else
        FOpenError = FPort->LastError();
    } else if (!Active && FPort->IsOpen()) {
      // Close awaits the pending write and releases it whatever happens.
      FPort->Close();
    }
  }
  FHost.PortStateChanged();
}

int TSerialTransport::PortIndicatorState(bool CommActive, int Current) {
  if (!FPort) return kIndicatorCantOpen;
  const bool open = FPort->IsOpen();
  if (!open && !CommActive) return kIndicatorHidden;
  if (open) {
    const std::optional<bool> dsr = FPort->DSR();
    if (!dsr) return Current;
    return *dsr ? kIndicatorDsrHigh : kIndicatorDsrLow;
  }
  return kIndicatorCantOpen;
}

void TSerialTransport::PollReceive() {
  if (!IsOpen()) return;
  // Keep a long write moving between polls.
  FPort->WritePending();
  const std::optional<size_t> count = FPort->InputCount();
  if (!count) {
    SetActive(false);
    return;
  }
  if (*count == 0) return;
  FHost.LogDebug("    DEBUG_XXXX_PolledCount: " + std::to_string(*count));
  if (*count < kSerialPurgeCount) {
    ReceiveSerial(*count);
  } else {
    FHost.LogDebug("    DEBUG_XXXX_PolledPURGED");
    FPort->PurgeInput();
  }
}

void TSerialTransport::ReceiveSerial(size_t Count) {
  if (!FHost.Communicating()) return;
  if (Count > kSerialReadLimit) Count = kSerialReadLimit;
  if (FReceiving || !IsOpen() || Count == 0) return;
  TReentryGuard guard(FReceiving);

  std::array<uint8_t, kSerialReadLimit> bytes;
  const std::optional<size_t> got = FPort->Read(std::span<uint8_t>(bytes.data(), Count));
  if (!got) {
    // A port that cannot be read is as broken as one that cannot be asked.
    SetActive(false);
    return;
  }
  if (*got == 0) return;
  const std::span<const uint8_t> data(bytes.data(), *got);
  FHost.SignalReceive();
  if (LogLinkDiagnostics(FHost.Applied())) FHost.LogLine(SerialRxDump(FCommPort, FClock.Now(), data), false);
  ReceiveBytes(FRx, FStamp, data, FClock.TickCount(), TQnetTransport::Serial, FHost.FrameSink());
}

void TSerialTransport::SendSerial(std::span<const uint8_t> Frame) {
  if (!FPort) return;
  if (!FPort->IsOpen()) {
    SetActive(true);
    return;
  }
  FHost.LogDebug("    DEBUG_XXXX_SerialSendIn");
  FHost.CountTransmittedFrame();
  FPort->WaitWriteDone();
  // A partial frame left from before cannot belong to the answer to this one.
  FRx.Clear();
  const bool started = FPort->StartWrite(Frame);
  FHost.SignalTransmit();
  if (!started) SetActive(false);
  if (LogTransmittedFrames(FHost.Applied())) {
    FHost.LogLine("", false);
    FHost.LogLine(SerialTxDump(FCommPort, FClock.Now(), Frame), false);
  }
  FHost.LogDebug("    DEBUG_XXXX_SerialSendOut");
}
