// Feeds arbitrary bytes through reassembly and extraction in chunks whose
// sizes and delays come from the input, and decodes every frame found.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "comm/qnet_codec.h"
#include "comm/qnet_frame.h"

namespace {

struct Sink : IQnetRxSink {
  bool QnetLogEnabled() const override { return true; }
  void QnetLog(std::string_view line) override { sum += line.size(); }
  void QnetFrameError(TQnetFrameError, uint32_t nad) override { sum += nad; }
  void QnetFrameReceived(const TQnetFrame& f) override {
    if (f.FSize < kQnetMinFrameSize || f.FSize > kQnetMaxFrameSize) std::abort();
    TQnetRequest r;
    if (ParseRequest(f, r) == TQnetParse::Ok) {
      for (size_t i = 0; i < r.ListCount(); ++i) sum += r.ListAddress(i) + r.ListSize(i);
      if (r.FValuesLength) sum += r.FValues[r.FValuesLength - 1];
      if (r.FTrailerLength) sum += r.FTrailer[r.FTrailerLength - 1];
    }
    if (f.FDataLength >= 4) sum += DecodeValue({f.FData, f.FDataLength}, 4);
  }
  size_t sum = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TQnetRxBuffer rx;
  TQnetRxStamp stamp;
  Sink sink;
  uint32_t tick = 0;
  size_t pos = 0;
  while (pos < size) {
    // Control byte: low 6 bits + 1 are the chunk length multiplier, the top
    // bits choose the gap before it (the last choice goes stale).
    const uint8_t ctl = data[pos++];
    const size_t len = std::min<size_t>(size - pos, (ctl & 0x3F) * 8u + 1u);
    static constexpr uint32_t kGaps[] = {0, 10, 100, 3000};
    tick += kGaps[ctl >> 6];
    const TQnetTransport t = (ctl & 1) ? TQnetTransport::Udp : TQnetTransport::Serial;
    ReceiveBytes(rx, stamp, {data + pos, len}, tick, t, sink);
    if (rx.FCount > kQnetRxBufferSize) std::abort();
    pos += len;
  }
  // Drain what waits without new bytes.
  for (int i = 0; i < 8; ++i) ExtractFrames(rx, TQnetTransport::Serial, sink);
  return sink.sum == 0xFFFFFFFF ? 1 : 0;
}
