// Texts of the communication trace shared by the transports.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/clock.h"

// "hh:mm:ss:zzz" of the time of day, milliseconds in three digits.
std::string CommTimeText(TDateTime Now);

// The bytes as characters: a byte below 15 shows as the character of byte
// + 223 (so control bytes never break the line), any other as itself; the
// characters are those of the Windows-1252 code page, in UTF-8.
std::string FrameCharsText(std::span<const uint8_t> Bytes);
// Each byte as two upper-case hexadecimal digits followed by a blank.
std::string FrameHexText(std::span<const uint8_t> Bytes);

// "[Rx] COM3 [hh:mm:ss:zzz] <chars>  (<hex>)"
std::string SerialRxDump(int Port, TDateTime Now, std::span<const uint8_t> Bytes);
// "[Tx] COM3 [hh:mm:ss:zzz] <chars>  ( <hex>)"
std::string SerialTxDump(int Port, TDateTime Now, std::span<const uint8_t> Bytes);
