#include "comm/qnet_codec.h"

#include <algorithm>
#include <cmath>

namespace {

void PushValue(TQnetTxBuffer& tx, const TQnetItem& item) {
  switch (item.FSize) {
    case 1: tx.PushByte(static_cast<uint8_t>(item.FValue)); break;
    case 2: tx.PushWord(static_cast<uint16_t>(item.FValue)); break;
    default: tx.PushLong(item.FValue); break;
  }
}

void BeginRequest(TQnetTxBuffer& tx, uint16_t len, uint32_t my, uint32_t plc, uint8_t cmd) {
  tx.BeginFrame(len, my, plc);
  tx.PushByte(kMsgDirRequest);
  tx.PushByte(0);
  tx.PushByte(cmd);
}

bool FinishBody(TQnetTxBuffer& tx, uint16_t password) {
  tx.SetFrameLength(static_cast<uint16_t>(tx.BodyLength()));
  return tx.FinishFrame(password);
}

void PushListHeader(TQnetTxBuffer& tx, std::span<const TQnetItem> items) {
  uint16_t n[3] = {0, 0, 0};
  for (const TQnetItem& it : items) n[it.FSize == 1 ? 0 : (it.FSize == 2 ? 1 : 2)]++;
  for (uint16_t c : n) tx.PushWord(c);
  ForEachGrouped(items, [&](size_t i) { tx.PushWord(items[i].FAddress); });
}

bool ValidSizes(std::span<const TQnetItem> items) {
  for (const TQnetItem& it : items) {
    if (it.FSize != 1 && it.FSize != 2 && it.FSize != 4) return false;
  }
  return true;
}

}  // namespace

TQnetClock QnetClockFromDateTime(TDateTime Now) {
  const double whole = std::floor(Now);
  const auto days = static_cast<long long>(whole);
  // Milliseconds of the day, rounded so 13:07:09 stored inexactly stays :09.
  long long ms = std::llround((Now - whole) * 86400000.0);
  if (ms >= 86400000) ms = 86399999;
  // Civil date from days since 1970-01-01 (1899-12-30 is day -25569).
  long long z = days - 25569 + 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const long long doe = z - era * 146097;
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long long mp = (5 * doy + 2) / 153;
  const long long d = doy - (153 * mp + 2) / 5 + 1;
  const long long m = mp < 10 ? mp + 3 : mp - 9;
  const long long y = yoe + era * 400 + (m <= 2 ? 1 : 0);
  TQnetClock c;
  c.FYear = static_cast<uint16_t>(y);
  c.FMonth = static_cast<uint8_t>(m);
  c.FDay = static_cast<uint8_t>(d);
  // 1899-12-30 was a Saturday.
  c.FDayOfWeek = static_cast<uint8_t>(((days % 7) + 7 + 6) % 7);
  const long long secs = ms / 1000;
  c.FHour = static_cast<uint8_t>(secs / 3600);
  c.FMinute = static_cast<uint8_t>(secs / 60 % 60);
  c.FSecond = static_cast<uint8_t>(secs % 60);
  return c;
}

bool EncodeReadStatus(TQnetTxBuffer& Tx, uint32_t MyNAD, uint32_t PlcNAD, uint16_t Password) {
  BeginRequest(Tx, 3, MyNAD, PlcNAD, kCmdReadStatus);
  return Tx.FinishFrame(Password);
}

bool EncodeReadBlock(TQnetTxBuffer& Tx, uint32_t MyNAD, uint32_t PlcNAD, uint16_t Start,
                     uint16_t Count, uint16_t Password) {
  BeginRequest(Tx, 0, MyNAD, PlcNAD, kCmdReadBlock);
  Tx.PushWord(Start);
  Tx.PushWord(Count);
  return FinishBody(Tx, Password);
}

bool EncodeReadList(TQnetTxBuffer& Tx, uint32_t MyNAD, uint32_t PlcNAD,
                    std::span<const TQnetItem> Items, uint16_t Password) {
  BeginRequest(Tx, 0, MyNAD, PlcNAD, kCmdReadList);
  PushListHeader(Tx, Items);
  return ValidSizes(Items) && FinishBody(Tx, Password);
}

bool EncodeWriteBlock(TQnetTxBuffer& Tx, uint32_t MyNAD, uint32_t PlcNAD, uint16_t Start,
                      std::span<const TQnetItem> Items, uint16_t Password) {
  size_t count = 0;
  for (const TQnetItem& it : Items) count += it.FSize;
  BeginRequest(Tx, 0, MyNAD, PlcNAD, kCmdWriteBlock);
  Tx.PushWord(Start);
  Tx.PushWord(static_cast<uint16_t>(count));
  for (const TQnetItem& it : Items) PushValue(Tx, it);
  return ValidSizes(Items) && count <= 0xFFFF && FinishBody(Tx, Password);
}

bool EncodeWriteList(TQnetTxBuffer& Tx, uint32_t MyNAD, uint32_t PlcNAD,
                     std::span<const TQnetItem> Items, uint16_t Password) {
  BeginRequest(Tx, 0, MyNAD, PlcNAD, kCmdWriteList);
  PushListHeader(Tx, Items);
  ForEachGrouped(Items, [&](size_t i) { PushValue(Tx, Items[i]); });
  return ValidSizes(Items) && FinishBody(Tx, Password);
}

bool EncodeSetClock(TQnetTxBuffer& Tx, uint32_t MyNAD, uint32_t PlcNAD, const TQnetClock& Clock,
                    uint16_t Password) {
  BeginRequest(Tx, 10, MyNAD, PlcNAD, kCmdSetClock);
  Tx.PushByte(QnetYearByte(Clock.FYear));
  Tx.PushByte(Clock.FMonth);
  Tx.PushByte(Clock.FDay);
  Tx.PushByte(Clock.FDayOfWeek);
  Tx.PushByte(Clock.FHour);
  Tx.PushByte(Clock.FMinute);
  Tx.PushByte(Clock.FSecond);
  return Tx.FinishFrame(Password);
}

bool EncodePermission(TQnetTxBuffer& Tx, uint32_t MasterNAD, uint32_t StationNAD) {
  BeginRequest(Tx, 3, MasterNAD, StationNAD, kCmdPermission);
  return Tx.FinishFrame(0);
}

bool EncodePermissionReturn(TQnetTxBuffer& Tx, uint32_t MyNAD, uint32_t MasterNAD, uint16_t Password) {
  Tx.BeginFrame(2, MyNAD, MasterNAD);
  Tx.PushByte(kMsgDirAnswer);
  Tx.PushByte(kMsgTypSocket);
  return Tx.FinishFrame(Password);
}

bool EncodeAnswer(TQnetTxBuffer& Tx, uint32_t SenderNAD, uint32_t ReceiverNAD, uint8_t MsgDir,
                  uint8_t MsgTyp, std::span<const uint8_t> Data) {
  Tx.BeginFrame(0, SenderNAD, ReceiverNAD);
  Tx.PushByte(MsgDir);
  Tx.PushByte(MsgTyp);
  for (uint8_t b : Data) Tx.PushByte(b);
  return FinishBody(Tx, 0);
}

bool ReadAnswerOffsets(std::span<const TQnetItem> Items, bool ListMode, uint16_t BlockStart,
                       size_t DataLength, std::span<size_t> Offsets) {
  if (Offsets.size() < Items.size() || !ValidSizes(Items)) return false;
  size_t need = 0;
  if (ListMode) {
    for (const TQnetItem& it : Items) need += it.FSize;
  } else {
    for (const TQnetItem& it : Items) {
      if (it.FAddress < BlockStart) return false;
      need = std::max<size_t>(need, size_t{it.FAddress} - BlockStart + it.FSize);
    }
  }
  if (DataLength < need) return false;
  if (ListMode) {
    size_t off = 0;
    ForEachGrouped(Items, [&](size_t i) {
      Offsets[i] = off;
      off += Items[i].FSize;
    });
  } else {
    for (size_t i = 0; i < Items.size(); ++i) Offsets[i] = Items[i].FAddress - BlockStart;
  }
  return true;
}

TQnetParse ParseRequest(const TQnetFrame& Frame, TQnetRequest& Request) {
  Request = TQnetRequest{};
  if (!Frame.HasBody() || Frame.FMsgDir != kMsgDirRequest || Frame.FMsgTyp != 0 ||
      Frame.FDataLength < 1)
    return TQnetParse::NotARequest;
  const uint8_t* p = Frame.FData;
  const size_t n = Frame.FDataLength;
  Request.FCommand = p[0];
  size_t used = 1;
  switch (Request.FCommand) {
    case kCmdReadStatus:
    case kCmdPermission:
      break;
    case kCmdReadBlock:
    case kCmdWriteBlock:
      if (n < 5) return TQnetParse::Truncated;
      Request.FStart = QnetWord(p + 1);
      Request.FCount = QnetWord(p + 3);
      used = 5;
      if (Request.FCommand == kCmdWriteBlock) {
        if (n < used + Request.FCount) return TQnetParse::Truncated;
        Request.FValues = p + used;
        Request.FValuesLength = Request.FCount;
        used += Request.FCount;
      }
      break;
    case kCmdReadList:
    case kCmdWriteList: {
      if (n < 7) return TQnetParse::Truncated;
      for (int i = 0; i < 3; ++i) Request.FN[i] = QnetWord(p + 1 + 2 * i);
      used = 7;
      if (n < used + 2 * Request.ListCount()) return TQnetParse::Truncated;
      Request.FAddresses = p + used;
      used += 2 * Request.ListCount();
      if (Request.FCommand == kCmdWriteList) {
        if (n < used + Request.ListValueBytes()) return TQnetParse::Truncated;
        Request.FValues = p + used;
        Request.FValuesLength = Request.ListValueBytes();
        used += Request.FValuesLength;
      }
      break;
    }
    case kCmdSetClock:
      if (n < 8) return TQnetParse::Truncated;
      for (int i = 0; i < 7; ++i) Request.FClockBytes[i] = p[1 + i];
      used = 8;
      break;
    default:
      return TQnetParse::UnknownCommand;
  }
  Request.FTrailer = p + used;
  Request.FTrailerLength = n - used;
  return TQnetParse::Ok;
}
