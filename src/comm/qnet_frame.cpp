#include "comm/qnet_frame.h"

#include <cstring>
#include <string>

#include "platform/clock.h"

namespace {

constexpr uint16_t ChecksumWeights[16] = {1181,  3079,  5521,  6863,  7499,  8237,  9479,  11083,
                                          13477, 14533, 15679, 17477, 19727, 21391, 24499, 27583};

void AppendHex(std::string& s, const uint8_t* p, size_t n) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (size_t i = 0; i < n; ++i) {
    s.push_back(kHex[p[i] >> 4]);
    s.push_back(kHex[p[i] & 0x0F]);
    s.push_back(' ');
  }
}

void LogDump(IQnetRxSink& sink, std::string_view prefix, const uint8_t* p, size_t n) {
  std::string line;
  line.reserve(prefix.size() + 3 * n + 2);
  line.append(prefix);
  line.push_back('(');
  AppendHex(line, p, n);
  line.push_back(')');
  sink.QnetLog(line);
}

// Index of the first 0xAA 0x55 pair, or -1.
ptrdiff_t FindPreamble(const uint8_t* p, size_t n) {
  for (size_t i = 0; i + 1 < n; ++i) {
    if (p[i] == 0xAA && p[i + 1] == 0x55) return static_cast<ptrdiff_t>(i);
  }
  return -1;
}

void FillFrame(const uint8_t* p, uint16_t len, TQnetFrame& f) {
  f = TQnetFrame{};
  f.FBytes = p;
  f.FLength = len;
  f.FSize = static_cast<size_t>(len) + kQnetMinFrameSize;
  f.FSenderNAD = QnetLong(p + 4);
  f.FReceiverNAD = QnetLong(p + 8);
  if (len >= 1) f.FMsgDir = p[12];
  if (len >= 2) {
    f.FMsgTyp = p[13];
    f.FData = p + 14;
    f.FDataLength = len - 2u;
  }
}

}  // namespace

uint16_t FrameChecksum(const uint8_t* Data, size_t Count, uint16_t Initial) {
  uint16_t sum = Initial;
  for (size_t i = 0; i < Count; ++i) {
    sum = static_cast<uint16_t>(sum + static_cast<uint16_t>((Data[i] ^ 0x5A) * ChecksumWeights[i & 15]));
  }
  return sum;
}

void TQnetTxBuffer::BeginFrame(uint16_t InitialLength, uint32_t SenderNAD, uint32_t ReceiverNAD) {
  FTxLength = 0;
  FOverflow = false;
  PushByte(0xAA);
  PushByte(0x55);
  PushWord(InitialLength);
  PushLong(SenderNAD);
  PushLong(ReceiverNAD);
}

void TQnetTxBuffer::PushByte(uint8_t Value) {
  if (FTxLength >= FTxBuffer.size()) {
    FOverflow = true;
    return;
  }
  FTxBuffer[FTxLength++] = Value;
}

void TQnetTxBuffer::PushWord(uint16_t Value) {
  PushByte(static_cast<uint8_t>(Value));
  PushByte(static_cast<uint8_t>(Value >> 8));
}

void TQnetTxBuffer::PushLong(uint32_t Value) {
  PushWord(static_cast<uint16_t>(Value));
  PushWord(static_cast<uint16_t>(Value >> 16));
}

void TQnetTxBuffer::SetFrameLength(uint16_t Value) {
  if (FTxLength < 4) return;
  FTxBuffer[2] = static_cast<uint8_t>(Value);
  FTxBuffer[3] = static_cast<uint8_t>(Value >> 8);
}

bool TQnetTxBuffer::FinishFrame(uint16_t Password) {
  if (FTxLength < kQnetHeaderSize) return false;
  if (Password != 0) {
    SetFrameLength(static_cast<uint16_t>(QnetWord(&FTxBuffer[2]) + 2));
    PushWord(Password);
  }
  const uint16_t len = QnetWord(&FTxBuffer[2]);
  const bool ok = !FOverflow && len < kQnetLengthLimit && len == BodyLength() &&
                  FTxLength + 2 <= FTxBuffer.size();
  if (FTxLength + 2 <= FTxBuffer.size()) {
    const uint16_t sum = FrameChecksum(FTxBuffer.data(), FTxLength);
    PushWord(sum);
  }
  return ok;
}

bool ParseQnetFrame(std::span<const uint8_t> Bytes, TQnetFrame& Frame) {
  if (Bytes.size() < kQnetMinFrameSize || Bytes[0] != 0xAA || Bytes[1] != 0x55) return false;
  const uint16_t len = QnetWord(Bytes.data() + 2);
  if (len >= kQnetLengthLimit || Bytes.size() != static_cast<size_t>(len) + kQnetMinFrameSize) return false;
  if (FrameChecksum(Bytes.data(), len + kQnetHeaderSize) != QnetWord(Bytes.data() + kQnetHeaderSize + len))
    return false;
  FillFrame(Bytes.data(), len, Frame);
  return true;
}

std::string_view QnetErrorText(TQnetFrameError Error, TQnetTransport Transport) {
  const bool udp = Transport == TQnetTransport::Udp;
  switch (Error) {
    case TQnetFrameError::BadPreamble:
      return udp ? "UDP Bad preamble (expecting AA 55)" : "Bad preamble (expecting AA 55 in [RC])";
    case TQnetFrameError::LengthExceeded:
      return udp ? "UDP Length Exceeded 1200 bytes" : "Length Exceeded 1200 bytes";
    case TQnetFrameError::BadCrc:
      return udp ? "UDP BAD CRC" : "BAD CRC";
  }
  return {};
}

bool AppendReceived(TQnetRxBuffer& Rx, TQnetRxStamp& Stamp, std::span<const uint8_t> Bytes,
                    uint32_t Tick, TQnetTransport /*Transport*/, IQnetRxSink& Sink) {
  if (Stamp.FValid && TickDiff(Tick, Stamp.FLastEventTick) > kQnetStaleRxMs) {
    Rx.Clear();
    if (Sink.QnetLogEnabled()) Sink.QnetLog("Reseted rx buffer");
  }
  Stamp.FValid = true;
  Stamp.FLastEventTick = Tick;
  if (Rx.FCount + Bytes.size() > Rx.FData.size()) {
    Rx.Clear();
    return false;
  }
  if (!Bytes.empty()) std::memcpy(Rx.FData.data() + Rx.FCount, Bytes.data(), Bytes.size());
  Rx.FCount += Bytes.size();
  return true;
}

int ExtractFrames(TQnetRxBuffer& Rx, TQnetTransport Transport, IQnetRxSink& Sink) {
  const bool serial = Transport == TQnetTransport::Serial;
  int taken = 0;
  while (taken < kQnetMaxFramesPerEvent) {
    const bool log = Sink.QnetLogEnabled();
    if (log && serial) LogDump(Sink, "[SB] ", Rx.FData.data(), Rx.FCount);
    const ptrdiff_t found = FindPreamble(Rx.FData.data(), Rx.FCount);
    const size_t start = found < 0 ? 0 : static_cast<size_t>(found);
    const uint8_t* cand = Rx.FData.data() + start;
    const size_t n = Rx.FCount - start;
    if (log && serial) LogDump(Sink, "[Rc] ", cand, n);
    if (n < kQnetMinFrameSize) break;

    TQnetFrameError error{};
    bool bad = true;
    const uint16_t len = QnetWord(cand + 2);
    if (found < 0) {
      error = TQnetFrameError::BadPreamble;
    } else if (len >= kQnetLengthLimit) {
      error = TQnetFrameError::LengthExceeded;
    } else if (n < static_cast<size_t>(len) + kQnetMinFrameSize) {
      break;  // incomplete: wait for more bytes
    } else if (FrameChecksum(cand, len + kQnetHeaderSize) != QnetWord(cand + kQnetHeaderSize + len)) {
      error = TQnetFrameError::BadCrc;
    } else {
      bad = false;
    }
    if (bad) {
      if (log) Sink.QnetLog(QnetErrorText(error, Transport));
      Sink.QnetFrameError(error, QnetLong(cand + 4));
      // Noise ending in 0xAA may be followed by the 0x55 of a real frame in
      // the next chunk; keep that byte so the frame is not lost with the noise.
      const bool keepAA = found < 0 && Rx.FData[Rx.FCount - 1] == 0xAA;
      Rx.Clear();
      if (keepAA) Rx.FData[Rx.FCount++] = 0xAA;
      break;
    }

    TQnetFrame frame;
    FillFrame(cand, len, frame);
    ++taken;
    Sink.QnetFrameReceived(frame);
    // The sink may have emptied the buffer (e.g. a send in its handler);
    // only a buffer still holding this frame is shifted.
    const size_t consumed = start + frame.FSize;
    if (Rx.FCount < consumed) break;
    const size_t remain = Rx.FCount - consumed;
    if (remain > 0) std::memmove(Rx.FData.data(), Rx.FData.data() + consumed, remain);
    Rx.FCount = remain;
    if (remain > 0 && Sink.QnetLogEnabled()) {
      std::string line(serial ? "Preserved: " : "UDP Preserved: ");
      line += std::to_string(remain);
      Sink.QnetLog(line);
    }
    if (remain < kQnetMinFrameSize) break;
  }
  return taken;
}

int ReceiveBytes(TQnetRxBuffer& Rx, TQnetRxStamp& Stamp, std::span<const uint8_t> Bytes,
                 uint32_t Tick, TQnetTransport Transport, IQnetRxSink& Sink) {
  if (!AppendReceived(Rx, Stamp, Bytes, Tick, Transport, Sink)) return 0;
  return ExtractFrames(Rx, Transport, Sink);
}

size_t QnetWireSize(uint8_t TypeCode) {
  switch (TypeCode % 128) {
    case 1: return 1;
    case 2: case 3: return 2;
    case 4: case 5: return 4;
    default: return 0;
  }
}

uint32_t DecodeValue(std::span<const uint8_t> Bytes, uint8_t TypeCode) {
  const uint8_t code = TypeCode % 128;
  const size_t size = QnetWireSize(code);
  if (size == 0) throw ENotSupportedType();
  if (Bytes.size() < size) throw std::out_of_range("Value beyond the frame data");
  switch (code) {
    case 1: return Bytes[0];
    case 2: return QnetWord(Bytes.data());
    case 3: return static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(QnetWord(Bytes.data()))));
    default: return QnetLong(Bytes.data());
  }
}
