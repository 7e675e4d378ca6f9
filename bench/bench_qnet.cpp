// Frame layer throughput: frames built and extracted per second, checksum
// bytes per second. Prints its figures.
#include <chrono>
#include <cstdio>
#include <vector>

#include "comm/qnet_codec.h"
#include "comm/qnet_frame.h"

namespace {

using BenchClock = std::chrono::steady_clock;

struct CountingSink : IQnetRxSink {
  bool QnetLogEnabled() const override { return false; }
  void QnetLog(std::string_view) override {}
  void QnetFrameError(TQnetFrameError, uint32_t) override { ++errors; }
  void QnetFrameReceived(const TQnetFrame& f) override { bytes += f.FSize; ++frames; }
  size_t frames = 0, errors = 0, bytes = 0;
};

double Seconds(BenchClock::time_point a, BenchClock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

}  // namespace

int main() {
  // Checksum over a maximal frame, repeated.
  std::vector<uint8_t> data(1211);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 31);
  constexpr int kChecksumRounds = 100000;
  uint32_t sink = 0;
  auto t0 = BenchClock::now();
  for (int i = 0; i < kChecksumRounds; ++i) {
    data[0] = static_cast<uint8_t>(i);
    sink += FrameChecksum(data.data(), data.size());
  }
  auto t1 = BenchClock::now();
  std::printf("checksum: %.1f MB/s\n", kChecksumRounds * data.size() / Seconds(t0, t1) / 1e6);

  // Build a 20-entry list read, copy it into a receive buffer as one chunk
  // together with a block-read answer, extract both.
  TQnetItem items[20];
  for (int i = 0; i < 20; ++i) items[i] = {static_cast<uint16_t>(i * 4), static_cast<uint8_t>(1u << (i % 3)), 0};
  std::vector<uint8_t> answerData(64, 0x42);
  TQnetTxBuffer tx;
  TQnetRxBuffer rx;
  TQnetRxStamp stamp;
  CountingSink counting;
  std::vector<uint8_t> chunk;
  chunk.reserve(512);
  constexpr int kFrameRounds = 500000;
  size_t built = 0;
  t0 = BenchClock::now();
  for (int i = 0; i < kFrameRounds; ++i) {
    chunk.clear();
    built += EncodeReadList(tx, 100, static_cast<uint32_t>(i), items, 0);
    chunk.insert(chunk.end(), tx.Bytes().begin(), tx.Bytes().end());
    built += EncodeAnswer(tx, 1, 100, kMsgDirAnswer, kMsgTypAnswer, answerData);
    chunk.insert(chunk.end(), tx.Bytes().begin(), tx.Bytes().end());
    ReceiveBytes(rx, stamp, chunk, static_cast<uint32_t>(i), TQnetTransport::Udp, counting);
  }
  t1 = BenchClock::now();
  const double s = Seconds(t0, t1);
  std::printf("frames built and extracted: %.0f frames/s (%zu built, %zu taken, %zu errors, %.1f MB/s)\n",
              counting.frames / s, built, counting.frames, counting.errors, counting.bytes / s / 1e6);
  return sink == 1 ? 1 : 0;
}
