// The UDP side of a communication driver: one socket bound to the chosen
// adapter's address for the driver's whole life, one datagram per frame to
// the target address, received datagrams reassembled like serial bytes, and
// the detection of a PLC's own address when requests go to the broadcast
// address. Single-threaded: the event loop calls OnReadable when the
// socket's descriptor is readable; the command layer calls SendUdp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "comm/comm_settings.h"
#include "comm/qnet_frame.h"
#include "comm/transport_host.h"
#include "platform/clock.h"
#include "platform/udp_socket.h"

inline constexpr uint16_t kPlcUdpPort = 8442;
// The most bytes read of one datagram.
inline constexpr size_t kUdpDatagramLimit = 2900;
// Datagrams processed per OnReadable call; the rest wait for the next call,
// so a flood cannot hold the event loop.
inline constexpr int kUdpDatagramsPerEvent = 16;

// The process-wide counter behind "Open new port for each message": ports
// 12000 to 12999, reset whenever any driver is created.
struct TUdpPortCounter {
  static constexpr int kFirst = 12000;
  static constexpr int kEnd = 13000;
  int FValue = kFirst;

  void Reset() { FValue = kFirst; }
  uint16_t Next() {
    if (++FValue >= kEnd) FValue = kFirst;
    return static_cast<uint16_t>(FValue);
  }
};

class TUdpTransport {
 public:
  // Settings is the driver's own copy (FTargetAddress is set by the project
  // set and read at every send). Everything is owned by the caller and
  // outlives the transport; Stamp is shared by all UDP drivers.
  TUdpTransport(const TCommunicationSettings& Settings, std::unique_ptr<IUdpSocket> Socket, ITransportHost& Host,
                TQnetRxStamp& Stamp, TUdpPortCounter& PortCounter, const Clock& Clock);
  ~TUdpTransport();
  TUdpTransport(const TUdpTransport&) = delete;
  TUdpTransport& operator=(const TUdpTransport&) = delete;

  // OpenUdp: binds to the applied FLocalAddress with port 0, notes the
  // adapter name, empties the receive buffer. False (with LastError) when
  // the bind failed; sends then do nothing.
  bool OpenUdp();
  // CloseUdp: closes the socket.
  void CloseUdp();

  // SetActive(false): the socket stays open; a send or receive still
  // running is reported to the host. SetActive(true) does nothing.
  void SetActive(bool Active);

  // Sends the frame as one datagram to the target; errors are swallowed.
  void SendUdp(std::span<const uint8_t> Frame);
  // The socket is readable: takes the waiting datagrams, each one receive
  // event.
  void OnReadable();
  // One received datagram (already read).
  void ReceiveUdp(std::span<const uint8_t> Datagram, const TUdpEndpoint& From);

  bool IsUdpBusy() const { return FUdpReceiving || FUdpSending; }
  // 8442 with address detection, else the connection's remote port.
  int RemotePort() const;
  // "Waiting " + the target + "...".
  std::string WaitingText() const;

  const std::string& BoundAdapterName() const { return FBoundAdapterName; }
  int Fd() const { return FSocket ? FSocket->Fd() : -1; }
  const std::string& LastError() const { return FLastError; }
  TQnetRxBuffer& RxBuffer() { return FUdpRxBuffer; }
  IUdpSocket* Socket() { return FSocket.get(); }

 private:
  class TDetectingSink;

  // The target as an endpoint; nullopt when it cannot be sent to.
  std::optional<TUdpEndpoint> Target() const;
  // The frame's sender is the open request's PLC answering a broadcast
  // request with address detection on.
  bool DetectsAddress(const TQnetFrame& Frame) const;

  const TCommunicationSettings& FSettings;
  std::unique_ptr<IUdpSocket> FSocket;
  ITransportHost& FHost;
  TQnetRxStamp& FStamp;
  TUdpPortCounter& FPortCounter;
  const Clock& FClock;
  std::string FBoundAdapterName;
  uint32_t FBoundAddress = 0;
  TQnetRxBuffer FUdpRxBuffer;
  bool FUdpReceiving = false;
  bool FUdpSending = false;
  std::string FLastError;
};
