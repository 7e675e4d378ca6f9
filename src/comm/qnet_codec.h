// Q-net command payloads: encoders of requests and answers into a transmit
// buffer and a decoder of requests viewed in place. Shared by the server's
// command layer and the PLC simulator; no allocation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "comm/qnet_frame.h"
#include "platform/clock.h"

inline constexpr uint8_t kCmdReadStatus = 0x11;
inline constexpr uint8_t kCmdReadBlock = 0x31;
inline constexpr uint8_t kCmdWriteBlock = 0x32;
inline constexpr uint8_t kCmdReadList = 0x33;
inline constexpr uint8_t kCmdWriteList = 0x34;
inline constexpr uint8_t kCmdPermission = 0x44;
inline constexpr uint8_t kCmdSetClock = 0x70;

// One tag of a request: its address, wire size (1, 2 or 4) and, for writes,
// its raw value (only the low Size bytes travel).
struct TQnetItem {
  uint16_t FAddress = 0;
  uint8_t FSize = 0;
  uint32_t FValue = 0;
};

// The seven clock bytes of a clock setting, as fields.
struct TQnetClock {
  uint16_t FYear = 2000;
  uint8_t FMonth = 1;
  uint8_t FDay = 1;
  uint8_t FDayOfWeek = 0;  // 0 Sunday .. 6 Saturday
  uint8_t FHour = 0;
  uint8_t FMinute = 0;
  uint8_t FSecond = 0;
};

// Splits a local date-time into clock fields (seconds truncated).
TQnetClock QnetClockFromDateTime(TDateTime Now);
// The year as it travels: (year + 48) mod 256.
inline uint8_t QnetYearByte(uint16_t Year) { return static_cast<uint8_t>((Year + 48) % 256); }

// Each encoder builds and finishes a whole frame in Tx and returns
// FinishFrame's verdict (false: do not send). Password 0 means none.
bool EncodeReadStatus(TQnetTxBuffer& Tx, uint32_t MyNAD, uint32_t PlcNAD, uint16_t Password);
bool EncodeReadBlock(TQnetTxBuffer& Tx, uint32_t MyNAD, uint32_t PlcNAD, uint16_t Start,
                     uint16_t Count, uint16_t Password);
// Items in request order; they travel grouped by size (1, 2, then 4 bytes).
bool EncodeReadList(TQnetTxBuffer& Tx, uint32_t MyNAD, uint32_t PlcNAD,
                    std::span<const TQnetItem> Items, uint16_t Password);
// The byte count is the sum of the item sizes; contiguity is the caller's.
bool EncodeWriteBlock(TQnetTxBuffer& Tx, uint32_t MyNAD, uint32_t PlcNAD, uint16_t Start,
                      std::span<const TQnetItem> Items, uint16_t Password);
bool EncodeWriteList(TQnetTxBuffer& Tx, uint32_t MyNAD, uint32_t PlcNAD,
                     std::span<const TQnetItem> Items, uint16_t Password);
bool EncodeSetClock(TQnetTxBuffer& Tx, uint32_t MyNAD, uint32_t PlcNAD, const TQnetClock& Clock,
                    uint16_t Password);
bool EncodePermission(TQnetTxBuffer& Tx, uint32_t MasterNAD, uint32_t StationNAD);
bool EncodePermissionReturn(TQnetTxBuffer& Tx, uint32_t MyNAD, uint32_t MasterNAD, uint16_t Password);
// An answer, socket frame or negative acknowledge: MsgDir, MsgTyp and data.
bool EncodeAnswer(TQnetTxBuffer& Tx, uint32_t SenderNAD, uint32_t ReceiverNAD, uint8_t MsgDir,
                  uint8_t MsgTyp, std::span<const uint8_t> Data);

// Calls Fn(index) for the indexes of Items in wire order: 1-byte items, then
// 2-byte, then 4-byte, each group in request order.
template <class F>
void ForEachGrouped(std::span<const TQnetItem> Items, F&& Fn) {
  for (uint8_t size : {uint8_t{1}, uint8_t{2}, uint8_t{4}}) {
    for (size_t i = 0; i < Items.size(); ++i) {
      if (Items[i].FSize == size) Fn(i);
    }
  }
}

// Where each item's value starts in the data of a read answer (items in
// request order). Block mode: at address - BlockStart; list mode: grouped by
// size. Returns false, filling nothing, when the answer is shorter than the
// request needs (or an item lies before BlockStart); Offsets must hold
// Items.size() entries.
bool ReadAnswerOffsets(std::span<const TQnetItem> Items, bool ListMode, uint16_t BlockStart,
                       size_t DataLength, std::span<size_t> Offsets);

// A request frame's parameters, viewed in place in the frame.
struct TQnetRequest {
  uint8_t FCommand = 0;
  // Block read and write: start address and byte count.
  uint16_t FStart = 0;
  uint16_t FCount = 0;
  // List read and write: N1, N2, N4 and their addresses (words, grouped).
  uint16_t FN[3] = {0, 0, 0};
  const uint8_t* FAddresses = nullptr;
  // Write values (block: FCount bytes; list: grouped like the addresses).
  const uint8_t* FValues = nullptr;
  size_t FValuesLength = 0;
  // Clock setting: the seven bytes as sent.
  uint8_t FClockBytes[7] = {};
  // Bytes after the parameters (a password when the server has one set).
  const uint8_t* FTrailer = nullptr;
  size_t FTrailerLength = 0;

  size_t ListCount() const { return size_t{FN[0]} + FN[1] + FN[2]; }
  uint16_t ListAddress(size_t i) const { return QnetWord(FAddresses + 2 * i); }
  // Wire size of the i-th list entry in grouped order.
  uint8_t ListSize(size_t i) const { return i < FN[0] ? 1 : (i < size_t{FN[0]} + FN[1] ? 2 : 4); }
  size_t ListValueBytes() const { return size_t{FN[0]} + 2u * FN[1] + 4u * FN[2]; }
};

enum class TQnetParse { Ok, NotARequest, UnknownCommand, Truncated };

// Decodes a request (MsgDir 0, MsgTyp 0, with a command byte).
TQnetParse ParseRequest(const TQnetFrame& Frame, TQnetRequest& Request);
