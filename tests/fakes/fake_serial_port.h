// A scriptable serial port: bytes to be received are queued by the test,
// writes are recorded, and each call can be made to fail.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/serial_port.h"

// Shared with the test, which keeps it after handing the port to its owner.
struct TFakeSerialState {
  // Device paths that refuse to open ("in use").
  std::set<std::string> Busy;
  bool Open = false;
  std::vector<std::string> Opened;  // every path asked for
  int Closes = 0;
  std::deque<uint8_t> Input;
  std::vector<std::vector<uint8_t>> Writes;
  // A write stays pending until WaitWriteDone; counts the waits.
  bool WriteInFlight = false;
  int WriteWaits = 0;
  int Purges = 0;
  bool FailCount = false;
  bool FailRead = false;
  bool FailWrite = false;
  std::optional<bool> Dsr = true;  // nullopt: lines unreadable
  // Reported by InputCount on top of Input, to fake a flood.
  size_t ExtraCount = 0;

  std::vector<uint8_t> AllWritten() const {
    std::vector<uint8_t> all;
    for (const auto& w : Writes) all.insert(all.end(), w.begin(), w.end());
    return all;
  }
  void Receive(std::initializer_list<uint8_t> bytes) { Input.insert(Input.end(), bytes.begin(), bytes.end()); }
  template <class C>
  void Receive(const C& bytes) {
    Input.insert(Input.end(), std::begin(bytes), std::end(bytes));
  }
};

class TFakeSerialPort final : public ISerialPort {
 public:
  explicit TFakeSerialPort(std::shared_ptr<TFakeSerialState> State) : S(std::move(State)) {}

  bool Open(const std::string& DevicePath) override {
    S->Opened.push_back(DevicePath);
    if (S->Busy.count(DevicePath)) {
      FError = "cannot open " + DevicePath + ": Device or resource busy";
      return false;
    }
    S->Open = true;
    S->WriteInFlight = false;
    return true;
  }
  void Close() override {
    if (!S->Open) return;
    WaitWriteDone();
    S->Open = false;
    ++S->Closes;
  }
  bool IsOpen() const override { return S->Open; }
  std::optional<size_t> InputCount() override {
    if (!S->Open || S->FailCount) return std::nullopt;
    return S->Input.size() + S->ExtraCount;
  }
  std::optional<size_t> Read(std::span<uint8_t> Buffer) override {
    if (!S->Open || S->FailRead) return std::nullopt;
    const size_t n = std::min(Buffer.size(), S->Input.size());
    std::copy_n(S->Input.begin(), n, Buffer.begin());
    S->Input.erase(S->Input.begin(), S->Input.begin() + static_cast<std::ptrdiff_t>(n));
    return n;
  }
  bool StartWrite(std::span<const uint8_t> Bytes) override {
    if (!S->Open || S->FailWrite) return false;
    if (S->WriteInFlight) WaitWriteDone();
    S->Writes.emplace_back(Bytes.begin(), Bytes.end());
    S->WriteInFlight = true;
    return true;
  }
  bool WritePending() override { return false; }
  bool WaitWriteDone() override {
    if (S->WriteInFlight) ++S->WriteWaits;
    S->WriteInFlight = false;
    return true;
  }
  bool PurgeInput() override {
    ++S->Purges;
    S->Input.clear();
    S->ExtraCount = 0;
    return S->Open;
  }
  std::optional<bool> DSR() override {
    if (!S->Open) return std::nullopt;
    return S->Dsr;
  }
  int Fd() const override { return S->Open ? 99 : -1; }
  const std::string& LastError() const override { return FError; }

 private:
  std::shared_ptr<TFakeSerialState> S;
  std::string FError;
};
