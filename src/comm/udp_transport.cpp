#include "comm/udp_transport.h"

#include <array>

#include "common/reentry_guard.h"
#include "log/log_gates.h"

// Passes everything to the driver's sink except the frames taken by the
// address detection, which are neither recorded nor dispatched.
class TUdpTransport::TDetectingSink final : public IQnetRxSink {
 public:
  TDetectingSink(const TUdpTransport& Owner, IQnetRxSink& Next, uint32_t SenderAddress)
      : FOwner(Owner), FNext(Next), FSenderAddress(SenderAddress) {}
  bool QnetLogEnabled() const override { return FNext.QnetLogEnabled(); }
  void QnetLog(std::string_view Line) override { FNext.QnetLog(Line); }
  void QnetFrameError(TQnetFrameError Error, uint32_t SenderNAD) override { FNext.QnetFrameError(Error, SenderNAD); }
  void QnetFrameReceived(const TQnetFrame& Frame) override {
    if (FOwner.DetectsAddress(Frame)) {
      // The answer is dropped; the request is repeated through the driver
      // aimed at the PLC's own address.
      FOwner.FHost.DedicatedAddressFound(FSenderAddress);
      return;
    }
    FNext.QnetFrameReceived(Frame);
  }

 private:
  const TUdpTransport& FOwner;
  IQnetRxSink& FNext;
  uint32_t FSenderAddress;
};

TUdpTransport::TUdpTransport(const TCommunicationSettings& Settings, std::unique_ptr<IUdpSocket> Socket,
                             ITransportHost& Host, TQnetRxStamp& Stamp, TUdpPortCounter& PortCounter,
                             const Clock& Clock)
    : FSettings(Settings),
      FSocket(std::move(Socket)),
      FHost(Host),
      FStamp(Stamp),
      FPortCounter(PortCounter),
      FClock(Clock) {}

TUdpTransport::~TUdpTransport() { CloseUdp(); }

bool TUdpTransport::OpenUdp() {
  const TAppliedSettings& applied = FHost.Applied();
  FBoundAddress = applied.FLocalAddress.Address;
  FBoundAdapterName = applied.FAdapterName;
  FUdpRxBuffer.Clear();
  FLastError.clear();
  if (!FSocket) return false;
  if (!FSocket->Bind(FBoundAddress, 0)) {
    FLastError = FSocket->LastError();
    return false;
  }
  return true;
}

void TUdpTransport::CloseUdp() {
  if (FSocket) FSocket->Close();
}

void TUdpTransport::SetActive(bool Active) {
  if (Active) return;
  if (IsUdpBusy()) FHost.StoppedWhileBusy(WaitingText());
}

int TUdpTransport::RemotePort() const {
  return FSettings.FIPAdrAutodetect ? kPlcUdpPort : FSettings.FRemoteUDPPort;
}

std::string TUdpTransport::WaitingText() const { return "Waiting " + FSettings.FTargetAddress + "..."; }

std::optional<TUdpEndpoint> TUdpTransport::Target() const {
  const int port = RemotePort();
  if (port < 1 || port > 65535) return std::nullopt;
  // Dotted addresses only: a host name would mean a name lookup on the
  // main thread.
  const std::optional<uint32_t> address = ParseIPv4(FSettings.FTargetAddress);
  if (!address || *address == 0) return std::nullopt;
  return TUdpEndpoint{*address, static_cast<uint16_t>(port)};
}

void TUdpTransport::SendUdp(std::span<const uint8_t> Frame) {
  if (FUdpSending) return;
  TReentryGuard guard(FUdpSending);
  if (!FSocket || !FSocket->IsBound() || FSettings.FTargetAddress.empty()) return;
  const std::optional<TUdpEndpoint> target = Target();
  if (FHost.Applied().FNewPortPerMessage) {
    // A refused port keeps the old binding; the datagram still goes out.
    FSocket->Bind(FBoundAddress, FPortCounter.Next());
  }
  FHost.SignalTransmit();
  if (target) FSocket->SendTo(Frame, *target);
}

bool TUdpTransport::DetectsAddress(const TQnetFrame& Frame) const {
  const std::optional<uint32_t> openNAD = FHost.OpenRequestNAD();
  if (!openNAD || !FSettings.FIPAdrAutodetect) return false;
  const uint32_t broadcast = FHost.Applied().FBroadcastAddress;
  if (broadcast == 0) return false;
  const std::optional<uint32_t> target = ParseIPv4(FSettings.FTargetAddress);
  if (!target || *target != broadcast) return false;
  return Frame.FSenderNAD == *openNAD;
}

void TUdpTransport::ReceiveUdp(std::span<const uint8_t> Datagram, const TUdpEndpoint& From) {
  if (!FHost.Communicating() || Datagram.empty()) return;
  if (FUdpReceiving) return;
  TReentryGuard guard(FUdpReceiving);
  if (Datagram.size() > kUdpDatagramLimit) Datagram = Datagram.first(kUdpDatagramLimit);
  FHost.SignalReceive();
  TDetectingSink sink(*this, FHost.FrameSink(), From.Address);
  ReceiveBytes(FUdpRxBuffer, FStamp, Datagram, FClock.TickCount(), TQnetTransport::Udp, sink);
}

void TUdpTransport::OnReadable() {
  if (!FSocket || !FSocket->IsBound() || FUdpReceiving) return;
  std::array<uint8_t, kUdpDatagramLimit> buffer;
  for (int i = 0; i < kUdpDatagramsPerEvent; ++i) {
    TUdpEndpoint from;
    const std::optional<size_t> n = FSocket->ReceiveFrom(buffer, from);
    if (!n) return;
    // With communication off the datagram is read and dropped: left waiting
    // it would keep the descriptor readable and be taken as an answer to a
    // later request.
    if (!FHost.Communicating()) continue;
    ReceiveUdp(std::span<const uint8_t>(buffer.data(), *n), from);
  }
}
