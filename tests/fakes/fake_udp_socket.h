// A scriptable UDP socket: datagrams to be received are queued by the test,
// sends are recorded with the local port they left from, binds and sends
// can be made to fail.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/udp_socket.h"

struct TFakeDatagram {
  std::vector<uint8_t> Bytes;
  TUdpEndpoint Peer;      // sender (received) or destination (sent)
  uint16_t LocalPort = 0;  // the port a sent datagram left from
};

struct TFakeUdpState {
  bool Bound = false;
  TUdpEndpoint Local;
  std::vector<TUdpEndpoint> Binds;  // every bind asked for
  std::set<uint16_t> RefusedPorts;  // binds to these fail
  bool FailSend = false;
  int Closes = 0;
  std::deque<TFakeDatagram> Incoming;
  std::vector<TFakeDatagram> Sent;
  int Reads = 0;
  uint16_t NextEphemeral = 40000;

  void Receive(std::vector<uint8_t> bytes, uint32_t fromAddress, uint16_t fromPort = 8442) {
    Incoming.push_back({std::move(bytes), {fromAddress, fromPort}, 0});
  }
};

class TFakeUdpSocket final : public IUdpSocket {
 public:
  explicit TFakeUdpSocket(std::shared_ptr<TFakeUdpState> State) : S(std::move(State)) {}

  bool Bind(uint32_t LocalAddress, uint16_t LocalPort) override {
    S->Binds.push_back({LocalAddress, LocalPort});
    if (S->RefusedPorts.count(LocalPort)) {
      FError = "cannot bind: Address already in use";
      return false;
    }
    S->Bound = true;
    S->Local = {LocalAddress, LocalPort != 0 ? LocalPort : S->NextEphemeral++};
    return true;
  }
  void Close() override {
    if (!S->Bound) return;
    S->Bound = false;
    ++S->Closes;
  }
  bool IsBound() const override { return S->Bound; }
  TUdpEndpoint Local() const override { return S->Local; }
  bool SendTo(std::span<const uint8_t> Bytes, const TUdpEndpoint& To) override {
    if (!S->Bound || S->FailSend) return false;
    S->Sent.push_back({{Bytes.begin(), Bytes.end()}, To, S->Local.Port});
    return true;
  }
  std::optional<size_t> ReceiveFrom(std::span<uint8_t> Buffer, TUdpEndpoint& From) override {
    if (!S->Bound || S->Incoming.empty()) return std::nullopt;
    ++S->Reads;
    TFakeDatagram d = std::move(S->Incoming.front());
    S->Incoming.pop_front();
    const size_t n = std::min(Buffer.size(), d.Bytes.size());
    std::copy_n(d.Bytes.begin(), n, Buffer.begin());
    From = d.Peer;
    return n;
  }
  int Fd() const override { return S->Bound ? 98 : -1; }
  const std::string& LastError() const override { return FError; }

 private:
  std::shared_ptr<TFakeUdpState> S;
  std::string FError;
};
