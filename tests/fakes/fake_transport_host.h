// The driver side of a transport, recorded: frames handed on, log lines,
// indicator signals and counters; hooks let a test act from inside a
// dispatch.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "comm/qnet_frame.h"
#include "comm/transport_host.h"

class TFakeTransportHost final : public ITransportHost, public IQnetRxSink {
 public:
  // ITransportHost
  bool Communicating() const override { return Comm; }
  const TAppliedSettings& Applied() const override { return Settings; }
  void LogLine(const std::string& Line, bool Important) override {
    Lines.push_back(Line);
    if (Important) ++ImportantLines;
  }
  void LogDebug(const std::string& Line) override { DebugLines.push_back(Line); }
  void SignalReceive() override { ++RxSignals; }
  void SignalTransmit() override { ++TxSignals; }
  void PortStateChanged() override { ++PortChanges; }
  void CountTransmittedFrame() override { ++TransmittedFrames; }
  IQnetRxSink& FrameSink() override { return *this; }
  std::optional<uint32_t> OpenRequestNAD() const override { return OpenNAD; }
  void DedicatedAddressFound(uint32_t Address) override { Dedicated.push_back(Address); }
  void StoppedWhileBusy(const std::string& WaitingText) override { Waiting.push_back(WaitingText); }

  // IQnetRxSink
  bool QnetLogEnabled() const override { return Settings.FLogSerialComm; }
  void QnetLog(std::string_view Line) override { Lines.emplace_back(Line); }
  void QnetFrameError(TQnetFrameError Error, uint32_t) override { Errors.push_back(Error); }
  void QnetFrameReceived(const TQnetFrame& Frame) override {
    Frames.emplace_back(Frame.FBytes, Frame.FBytes + Frame.FSize);
    Senders.push_back(Frame.FSenderNAD);
    if (OnFrame) OnFrame();
  }

  bool Comm = true;
  TAppliedSettings Settings;
  std::optional<uint32_t> OpenNAD;
  std::function<void()> OnFrame;

  std::vector<std::string> Lines;
  int ImportantLines = 0;
  std::vector<std::string> DebugLines;
  int RxSignals = 0, TxSignals = 0, PortChanges = 0, TransmittedFrames = 0;
  std::vector<std::vector<uint8_t>> Frames;
  std::vector<uint32_t> Senders;
  std::vector<TQnetFrameError> Errors;
  std::vector<uint32_t> Dedicated;
  std::vector<std::string> Waiting;
};

// A valid answer frame (MsgDir 1, MsgTyp 0) with the given data bytes.
inline std::vector<uint8_t> AnswerFrame(uint32_t Sender, uint32_t Receiver, std::vector<uint8_t> Data = {}) {
  TQnetTxBuffer tx;
  tx.BeginFrame(static_cast<uint16_t>(2 + Data.size()), Sender, Receiver);
  tx.PushByte(1);
  tx.PushByte(0);
  for (uint8_t b : Data) tx.PushByte(b);
  tx.FinishFrame(0);
  auto bytes = tx.Bytes();
  return {bytes.begin(), bytes.end()};
}
