// A UDP socket as the communication driver uses it: bound to one local IPv4
// address, broadcasts allowed, sends and receives that never block. The
// event loop watches Fd() and calls the engine when a datagram waits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

// Addresses and ports in host byte order.
struct TUdpEndpoint {
  uint32_t Address = 0;
  uint16_t Port = 0;
};

class IUdpSocket {
 public:
  virtual ~IUdpSocket() = default;

  // Binds to the address and port (0: any free port). On a bound socket it
  // moves the socket to the new port; when that fails the old binding stays.
  virtual bool Bind(uint32_t LocalAddress, uint16_t LocalPort) = 0;
  virtual void Close() = 0;
  virtual bool IsBound() const = 0;
  // The actual local address and port after binding.
  virtual TUdpEndpoint Local() const = 0;

  // One datagram; false when the system refused it.
  virtual bool SendTo(std::span<const uint8_t> Bytes, const TUdpEndpoint& To) = 0;
  // The next waiting datagram, at most Buffer.size() bytes of it (the rest is
  // dropped); nullopt when none waits or the socket failed.
  virtual std::optional<size_t> ReceiveFrom(std::span<uint8_t> Buffer, TUdpEndpoint& From) = 0;

  // The descriptor to watch; its number stays the same across a move to a
  // new port, so a watcher set up once keeps working. -1 when closed.
  virtual int Fd() const = 0;
  virtual const std::string& LastError() const = 0;
};

class TPosixUdpSocket final : public IUdpSocket {
 public:
  TPosixUdpSocket() = default;
  ~TPosixUdpSocket() override;
  TPosixUdpSocket(const TPosixUdpSocket&) = delete;
  TPosixUdpSocket& operator=(const TPosixUdpSocket&) = delete;

  bool Bind(uint32_t LocalAddress, uint16_t LocalPort) override;
  void Close() override;
  bool IsBound() const override { return FFd >= 0; }
  TUdpEndpoint Local() const override { return FLocal; }
  bool SendTo(std::span<const uint8_t> Bytes, const TUdpEndpoint& To) override;
  std::optional<size_t> ReceiveFrom(std::span<uint8_t> Buffer, TUdpEndpoint& From) override;
  int Fd() const override { return FFd; }
  const std::string& LastError() const override { return FLastError; }

 private:
  void Fail(const std::string& What, int Error);

  int FFd = -1;
  TUdpEndpoint FLocal;
  std::string FLastError;
};

// Parses dotted IPv4 text ("127.0.0.7") into host order; no name lookup.
std::optional<uint32_t> ParseIPv4(const std::string& Text);
