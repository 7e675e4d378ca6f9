// A transport that records every frame the driver sends; answers are
// injected by the test through the driver's ReceiveChunk.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "comm/comm_transport.h"

struct TFakeTransportState {
  std::vector<std::vector<uint8_t>> Sent;
  bool Active = false;
  bool Busy = false;
  int Polls = 0;
};

class TFakeTransport final : public ICommTransport {
 public:
  explicit TFakeTransport(std::shared_ptr<TFakeTransportState> State) : S(std::move(State)) {}
  void SetActive(bool Active) override { S->Active = Active; }
  bool IsOpen() const override { return S->Active; }
  void Send(std::span<const uint8_t> Frame) override { S->Sent.emplace_back(Frame.begin(), Frame.end()); }
  void Poll() override { ++S->Polls; }
  bool Busy() const override { return S->Busy; }

  std::shared_ptr<TFakeTransportState> S;
};

// The body of a sent frame after MsgDir and MsgTyp (command byte first),
// without password and checksum.
inline std::vector<uint8_t> SentPayload(const std::vector<uint8_t>& Frame) {
  if (Frame.size() < 16) return {};
  const size_t length = Frame[2] | (Frame[3] << 8);
  return {Frame.begin() + 14, Frame.begin() + 12 + static_cast<std::ptrdiff_t>(length)};
}
