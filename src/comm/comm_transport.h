// The transport a driver owns, seen through one small interface so the
// driver does not care whether bytes go over a serial line or UDP, and so
// tests can put a recording transport in its place.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "comm/serial_transport.h"
#include "comm/udp_transport.h"

class ICommTransport {
 public:
  virtual ~ICommTransport() = default;
  // Follows the communication switch: opens or closes the port.
  virtual void SetActive(bool Active) = 0;
  virtual bool IsOpen() const = 0;
  // Sends one built frame.
  virtual void Send(std::span<const uint8_t> Frame) = 0;
  // The master timer's poll of serial input.
  virtual void Poll() {}
  // A UDP send or receive still runs: the master timeout waits.
  virtual bool Busy() const { return false; }
  // The port indicator's state (serial), Current when it cannot tell.
  virtual int PortIndicatorState(bool /*CommActive*/, int Current) { return Current; }
  virtual int Fd() const { return -1; }
  // UDP sockets are read when their descriptor is readable.
  virtual void OnReadable() {}
};

class TSerialCommTransport final : public ICommTransport {
 public:
  explicit TSerialCommTransport(std::unique_ptr<TSerialTransport> Transport) : FTransport(std::move(Transport)) {}
  void SetActive(bool Active) override { FTransport->SetActive(Active); }
  bool IsOpen() const override { return FTransport->IsOpen(); }
  void Send(std::span<const uint8_t> Frame) override { FTransport->SendSerial(Frame); }
  void Poll() override { FTransport->PollReceive(); }
  int PortIndicatorState(bool CommActive, int Current) override {
    return FTransport->PortIndicatorState(CommActive, Current);
  }
  int Fd() const override;
  TSerialTransport& Serial() { return *FTransport; }

 private:
  std::unique_ptr<TSerialTransport> FTransport;
};

class TUdpCommTransport final : public ICommTransport {
 public:
  explicit TUdpCommTransport(std::unique_ptr<TUdpTransport> Transport) : FTransport(std::move(Transport)) {}
  // The socket stays bound for the driver's life; the switch only stops use.
  void SetActive(bool Active) override { FTransport->SetActive(Active); }
  bool IsOpen() const override { return FTransport->Fd() >= 0; }
  void Send(std::span<const uint8_t> Frame) override { FTransport->SendUdp(Frame); }
  bool Busy() const override { return FTransport->IsUdpBusy(); }
  int PortIndicatorState(bool, int) override { return kIndicatorDsrHigh; }
  int Fd() const override { return FTransport->Fd(); }
  void OnReadable() override { FTransport->OnReadable(); }
  TUdpTransport& Udp() { return *FTransport; }

 private:
  std::unique_ptr<TUdpTransport> FTransport;
};
