// The command layer of a driver: the texts it logs and the small pure steps
// it shares with the scheduler and the tests. The operations themselves are
// members of TCommDriver (SendRequest, DispatchFrame, Handle*).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "comm/qnet_codec.h"

class TNorvoVar;

inline constexpr const char* kBlockWriteGap = "Error: Block write GAP detected!";
inline constexpr const char* kBlockDataNotValid = "BLOCK data not valid, SenderNAD ";
inline constexpr const char* kRandomDataNotValid = "RANDOM data not valid, SenderNAD ";

// The read limit for the next read: reads alternate between the operator's
// message size M and M - M div 10, so a PLC whose answers overrun at one
// size still gets served at the other.
int32_t NextReadBlockLimit(int32_t Limit, int32_t MaxBlockSize);

// The request tags as wire items (address, size, raw value).
void RequestItems(std::span<TNorvoVar* const> Vars, std::vector<TQnetItem>& Items);
