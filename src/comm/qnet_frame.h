// Q-net frames: building in a fixed transmit buffer, finding and verifying
// frames in a fixed receive buffer, decoding values. Pure: no I/O, the
// caller passes the tick and receives frames, log texts and errors through
// a sink. Nothing here allocates per frame.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string_view>

inline constexpr size_t kQnetTxBufferSize = 2902;
inline constexpr size_t kQnetRxBufferSize = 2900;
inline constexpr size_t kQnetHeaderSize = 12;
inline constexpr size_t kQnetMinFrameSize = 14;     // header + checksum
inline constexpr uint16_t kQnetLengthLimit = 1200;  // a length field this large is refused
inline constexpr size_t kQnetMaxFrameSize = kQnetLengthLimit - 1 + kQnetMinFrameSize;
inline constexpr int kQnetMaxFramesPerEvent = 4;
inline constexpr uint32_t kQnetStaleRxMs = 2500;

// Message directions and types (bytes 12 and 13 of a frame).
inline constexpr uint8_t kMsgDirRequest = 0;
inline constexpr uint8_t kMsgDirAnswer = 1;
inline constexpr uint8_t kMsgDirNak = 12;
inline constexpr uint8_t kMsgTypAnswer = 0;
inline constexpr uint8_t kMsgTypSocket = 1;

uint16_t FrameChecksum(const uint8_t* Data, size_t Count, uint16_t Initial = 0);

// Little-endian helpers for frame fields.
inline uint16_t QnetWord(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t QnetLong(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// The transmit buffer of a driver. A frame is built with BeginFrame, the
// body pushes, SetFrameLength where the length was not known up front, and
// FinishFrame; then bytes [0, FTxLength) go out.
struct TQnetTxBuffer {
  std::array<uint8_t, kQnetTxBufferSize> FTxBuffer{};
  size_t FTxLength = 0;
  // Set when a push did not fit; such a frame must not be sent.
  bool FOverflow = false;

  void BeginFrame(uint16_t InitialLength, uint32_t SenderNAD, uint32_t ReceiverNAD);
  void PushByte(uint8_t Value);
  void PushWord(uint16_t Value);
  void PushLong(uint32_t Value);  // two words, low word first
  void SetFrameLength(uint16_t Value);
  // Appends the password (when not 0; the length field grows by 2) and the
  // checksum. Returns false when the frame cannot be sent: a push overflowed,
  // or the length field does not match the body or is 1200 or more (a peer
  // would refuse it).
  bool FinishFrame(uint16_t Password);
  // The frame's body length (bytes after the header) built so far.
  size_t BodyLength() const { return FTxLength >= kQnetHeaderSize ? FTxLength - kQnetHeaderSize : 0; }
  std::span<const uint8_t> Bytes() const { return {FTxBuffer.data(), FTxLength}; }
};

// One valid frame, viewed in place in a receive buffer; valid only during the
// sink call that receives it.
struct TQnetFrame {
  const uint8_t* FBytes = nullptr;  // from the preamble to the checksum
  size_t FSize = 0;                 // L + 14
  uint16_t FLength = 0;             // L
  uint32_t FSenderNAD = 0;
  uint32_t FReceiverNAD = 0;
  // L of 0 or 1 passes the checksum but has no direction and type bytes:
  // those read as 0xFF so no dispatcher mistakes checksum bytes for them.
  uint8_t FMsgDir = 0xFF;
  uint8_t FMsgTyp = 0xFF;
  const uint8_t* FData = nullptr;  // after MsgTyp
  size_t FDataLength = 0;          // L - 2, or 0

  bool HasBody() const { return FLength >= 2; }
  // The command byte of a request, or -1 when there is none.
  int MsgCMD() const { return FDataLength >= 1 ? FData[0] : -1; }
};

// Views bytes that hold exactly one complete frame (e.g. a transmit buffer).
// Returns false when they are not one valid frame.
bool ParseQnetFrame(std::span<const uint8_t> Bytes, TQnetFrame& Frame);

enum class TQnetTransport { Serial, Udp };

enum class TQnetFrameError { BadPreamble, LengthExceeded, BadCrc };

// The text logged for an error on the given transport.
std::string_view QnetErrorText(TQnetFrameError Error, TQnetTransport Transport);

// Where ExtractFrames delivers its results. The driver implements it: it
// records and dispatches frames and counts errors against its open request.
class IQnetRxSink {
 public:
  virtual ~IQnetRxSink() = default;
  // "Log serial communication"; log texts are formed only when it is on.
  virtual bool QnetLogEnabled() const = 0;
  virtual void QnetLog(std::string_view Line) = 0;
  // SenderNAD is the 32 bits at offset 4 of the refused candidate (0 when it
  // is shorter than that).
  virtual void QnetFrameError(TQnetFrameError Error, uint32_t SenderNAD) = 0;
  virtual void QnetFrameReceived(const TQnetFrame& Frame) = 0;
};

// The time of the previous receive event, shared by all drivers of one
// transport kind.
struct TQnetRxStamp {
  bool FValid = false;
  uint32_t FLastEventTick = 0;
};

// A reassembly buffer of received bytes not yet taken as frames.
struct TQnetRxBuffer {
  std::array<uint8_t, kQnetRxBufferSize> FData{};
  size_t FCount = 0;

  void Clear() { FCount = 0; }
};

// Applies the stale-buffer rule (more than 2500 ms since the previous event
// of this transport kind) and the overflow rule, then appends the bytes.
// Returns false when the bytes were dropped by the overflow rule.
bool AppendReceived(TQnetRxBuffer& Rx, TQnetRxStamp& Stamp, std::span<const uint8_t> Bytes,
                    uint32_t Tick, TQnetTransport Transport, IQnetRxSink& Sink);

// Takes up to four frames from the front of the buffer and hands them to the
// sink. Returns the number of valid frames taken.
int ExtractFrames(TQnetRxBuffer& Rx, TQnetTransport Transport, IQnetRxSink& Sink);

// One receive event: AppendReceived then ExtractFrames.
int ReceiveBytes(TQnetRxBuffer& Rx, TQnetRxStamp& Stamp, std::span<const uint8_t> Bytes,
                 uint32_t Tick, TQnetTransport Transport, IQnetRxSink& Sink);

// Raised by DecodeValue for a type without a wire form.
class ENotSupportedType : public std::runtime_error {
 public:
  ENotSupportedType() : std::runtime_error("Not supported type") {}
};

// Wire size of a type code (modulo 128): 1, 2 or 4, or 0 when it has none.
size_t QnetWireSize(uint8_t TypeCode);

// The raw 32-bit value of a tag from its wire bytes. Throws ENotSupportedType
// for codes without a wire form and std::out_of_range when Bytes is shorter
// than the type's wire size.
uint32_t DecodeValue(std::span<const uint8_t> Bytes, uint8_t TypeCode);
