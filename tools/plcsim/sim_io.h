// The simulator's OS side: a UDP socket limited to the addresses the
// operator named, and a serial line (device or pseudo-terminal) whose sent
// bytes are paced at the baud rate.
#pragma once

#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <vector>

#include "sim_engine.h"

// Owns a file descriptor.
class TSimFd {
 public:
  TSimFd() = default;
  explicit TSimFd(int Fd) : FFd(Fd) {}
  TSimFd(TSimFd&& o) noexcept : FFd(o.FFd) { o.FFd = -1; }
  TSimFd& operator=(TSimFd&& o) noexcept;
  TSimFd(const TSimFd&) = delete;
  TSimFd& operator=(const TSimFd&) = delete;
  ~TSimFd();
  int Get() const { return FFd; }

 private:
  int FFd = -1;
};

// Parses a dotted IPv4 address into host order.
bool SimParseIPv4(const std::string& Text, uint32_t& Ip);
std::string SimIPv4Text(uint32_t Ip);

class TSimUdp {
 public:
  // Binds Host:Port. Refuses the wildcard and broadcast addresses: the
  // simulator talks only to what the operator named.
  bool Open(const std::string& Host, uint16_t Port, const std::vector<std::string>& Allow,
            const std::string& PeerHost, uint16_t PeerPort, std::string& Error);
  // A second socket on the bound port at Broadcast, a directed broadcast
  // address of a loopback network holding the bound address: a socket on
  // 127.0.0.1 never sees datagrams sent to 127.255.255.255, so a server
  // looking for its PLCs would go unheard. Only hears; answers still leave
  // from the bound address, which is how the server learns it.
  bool OpenBroadcast(const std::string& Broadcast, std::string& Error);
  int Fd() const { return FSocket.Get(); }
  int BroadcastFd() const { return FBroadcast.Get(); }
  uint32_t BoundIp() const { return FBoundIp; }
  uint16_t BoundPort() const { return FBoundPort; }
  uint32_t BroadcastIp() const { return FBroadcastIp; }
  // One datagram, if any, from either socket; false when none waits.
  // Datagrams from senders that may not be answered are read and dropped
  // (Rejected grows).
  bool Receive(std::vector<uint8_t>& Bytes, TSimEndpoint& From);
  // To an endpoint; an invalid one means the peer, else the last sender.
  void Send(std::span<const uint8_t> Bytes, const TSimEndpoint& To);
  bool Allowed(uint32_t Ip) const;
  uint64_t Rejected() const { return FRejected; }

 private:
  bool ReceiveOn(int Fd, std::vector<uint8_t>& Bytes, TSimEndpoint& From);

  TSimFd FSocket;
  TSimFd FBroadcast;  // -1 unless OpenBroadcast succeeded
  uint32_t FBroadcastIp = 0;
  bool FBroadcastFirst = false;
  uint32_t FBoundIp = 0;
  uint16_t FBoundPort = 0;
  std::vector<uint32_t> FAllow;
  TSimEndpoint FPeer;
  TSimEndpoint FLastSender;
  uint64_t FRejected = 0;
};

class TSimSerial {
 public:
  bool OpenDevice(const std::string& Path, uint32_t Baud, std::string& Error);
  // Creates a pseudo-terminal; Name gets the path clients open.
  bool OpenPty(uint32_t Baud, std::string& Name, std::string& Error);
  int Fd() const { return FFd.Get(); }
  // Reads what waits (bounded); false on a closed or failed line.
  bool Read(std::vector<uint8_t>& Bytes);
  // Queues bytes; the queue is bounded and drops whole frames beyond it.
  void Queue(std::span<const uint8_t> Bytes, uint32_t NowMs);
  // Writes as many queued bytes as the baud rate allows by NowMs.
  void Pump(uint32_t NowMs);
  bool Pending() const { return !FOut.empty(); }
  uint32_t MsUntilNextByte() const;
  uint64_t Dropped() const { return FDropped; }

 private:
  bool Configure(int Fd, uint32_t Baud, std::string& Error);

  TSimFd FFd;
  TSimFd FPtySlave;  // held open so the master side never reports a hang-up
  double FBytesPerMs = 1.92;
  double FCredit = 0;
  uint32_t FLastPump = 0;
  std::deque<uint8_t> FOut;
  uint64_t FDropped = 0;
};
