// SendRequest, DispatchFrame and the answer handlers of TCommDriver.
#include "comm/commands.h"

#include <algorithm>
#include <array>

#include "comm/comm_driver.h"
#include "log/log_gates.h"
#include "model/norvo_model.h"

int32_t NextReadBlockLimit(int32_t Limit, int32_t MaxBlockSize) {
  if (Limit > 50) Limit -= MaxBlockSize / 10;
  if (Limit < MaxBlockSize - MaxBlockSize / 10) Limit = MaxBlockSize;
  return Limit;
}

void RequestItems(std::span<TNorvoVar* const> Vars, std::vector<TQnetItem>& Items) {
  Items.clear();
  for (const TNorvoVar* tag : Vars)
    Items.push_back({static_cast<uint16_t>(tag->FAddress), static_cast<uint8_t>(VarTypeSize(tag->FVarType)),
                     static_cast<uint32_t>(tag->FValue)});
}

namespace {
struct TFlagGuard {
  explicit TFlagGuard(bool& f) : flag(f) { flag = true; }
  ~TFlagGuard() { flag = false; }
  bool& flag;
};

std::string Num(int64_t v) { return std::to_string(v); }

void SetMarkers(TNorvoModel& plc, bool periodicToo) {
  plc.FUnansweredForRead = true;
  plc.FUnansweredForWrite = true;
  if (periodicToo) plc.FUnansweredForPeriodic = true;
}

void ClearMarkers(TNorvoModel& plc) {
  plc.FUnansweredForRead = false;
  plc.FUnansweredForWrite = false;
  plc.FUnansweredForPeriodic = false;
}

// Reused across requests: encoding allocates nothing once warmed up.
thread_local std::vector<TQnetItem> tItems;
}  // namespace

// ---- sending ---------------------------------------------------------------

void TCommDriver::SendRequest(uint8_t Kind, int32_t GrantorNAD, TNorvoModel* PLC) {
  if (FSending || !FEnv) return;
  TFlagGuard guard(FSending);
  const uint32_t tick = FEnv->Time().TickCount();
  FLastTxTick = tick;
  const uint32_t target = PLC ? static_cast<uint32_t>(PLC->FNAD) : static_cast<uint32_t>(GrantorNAD);
  if (!FEnv->Shown()) return;

  const TAppliedSettings& a = Applied();
  const uint32_t myNAD = static_cast<uint32_t>(a.FMyNAD);
  TServerCommCounters& c = FEnv->Counters();
  switch (Kind) {
    case RD_DATA:
    case RD_DATA_PERIODIC:
      if (!SendRead(Kind, target, PLC)) return;
      break;
    case WR_DATA:
      if (!SendWrite(target, PLC)) return;
      break;
    case CLOSE_PERM:
      if (!EncodePermissionReturn(FTx, myNAD, target, a.FPLCPassword)) return;
      if (FTransport) FTransport->Send(FTx.Bytes());
      if (LogOn(LogLinkDiagnostics)) LogLine("WR_CLOSE_PERM to " + Num(target), false);
      PLC = nullptr;
      break;
    case RD_STATUS:
      if (!PLC || !EncodeReadStatus(FTx, myNAD, target, a.FPLCPassword)) return;
      if (FTransport) FTransport->Send(FTx.Bytes());
      PLC->FStatusRequestTick = tick;
      FEnv->Blink(nullptr, kBlinkRead);
      FEnv->Blink(PLC, kBlinkPLC);
      if (LogOn(LogLinkDiagnostics)) LogLine("RD_STATUS to " + Num(target), false);
      break;
    case WR_UPDATE_RTC:
      if (!PLC || !EncodeSetClock(FTx, myNAD, target, QnetClockFromDateTime(FEnv->Time().Now()), a.FPLCPassword))
        return;
      if (FTransport) FTransport->Send(FTx.Bytes());
      if (LogOn(LogLinkDiagnostics)) LogLine("WR_UPDATE RTC to " + Num(target), false);
      break;
    default:
      return;
  }

  FLastSentKind = Kind;
  FLastSentPLC = PLC;
  if (PLC) {
    BumpCounter(PLC->FTransmitCount);
    PLC->FLastSendTick = tick;
    BumpSaturating(PLC->FUnansweredCount);
  }
  c.FLastSendTick = tick;
}

bool TCommDriver::SendRead(uint8_t Kind, uint32_t Target, TNorvoModel* plc) {
  const TAppliedSettings& a = Applied();
  FReadBlockLimit = NextReadBlockLimit(FReadBlockLimit, a.FMaxBlockSize);
  if (FRequestCount == 0 || FRequestVars.empty()) return false;
  const uint32_t myNAD = static_cast<uint32_t>(a.FMyNAD);
  RequestItems(FRequestVars, tItems);
  bool ok;
  int32_t encodedBytes = 0;
  if (FReadListMode) {
    ok = EncodeReadList(FTx, myNAD, Target, tItems, a.FPLCPassword);
    size_t counted = 0;
    for (const auto& item : tItems) {
      if (item.FSize == 1 || item.FSize == 2 || item.FSize == 4) ++counted;
      encodedBytes += item.FSize;
    }
    if (counted != FRequestCount && LogOn(LogLinkDiagnostics)) LogLine("Suspictius count in Que!!!", false);
  } else {
    const uint16_t start = tItems.front().FAddress;
    int32_t end = start;
    for (const auto& item : tItems) end = std::max(end, int32_t{item.FAddress} + item.FSize);
    encodedBytes = end - start;
    ok = EncodeReadBlock(FTx, myNAD, Target, start, static_cast<uint16_t>(encodedBytes), a.FPLCPassword);
  }
  if (encodedBytes != FRequestBytes && LogOn(LogLinkDiagnostics)) LogLine("Suspictius data read Que!!!", false);
  if (!ok) {
    LogLine("Request not sent: frame does not fit", true);
    return false;
  }
  if (FTransport) FTransport->Send(FTx.Bytes());

  if (LogOn(LogCommActions))
    LogLine(std::string(FReadListMode ? "RD_DATA_RANDOM REQ to " : "RD_DATA_BLOCK REQ to ") + Num(Target) +
                ", VarCount: " + Num(static_cast<int64_t>(FRequestCount)),
            false);
  if (plc) SetMarkers(*plc, true);
  for (TNorvoVar* tag : FRequestVars) BumpSaturating(tag->FNoReplyCount);
  TServerCommCounters& c = FEnv->Counters();
  if (Kind == RD_DATA) {
    BumpCounter(c.FReadCount);
    if (plc) BumpCounter(plc->FReadCount);
  } else {
    BumpCounter(c.FBackgroundRefreshCount);
    if (plc) BumpCounter(plc->FBackgroundRefreshCount);
  }
  FEnv->Blink(nullptr, kBlinkRead);
  FEnv->Blink(plc, kBlinkPLC);
  return true;
}

bool TCommDriver::SendWrite(uint32_t Target, TNorvoModel* plc) {
  if (FRequestCount == 0 || FRequestVars.empty()) return false;
  const TAppliedSettings& a = Applied();
  const uint32_t myNAD = static_cast<uint32_t>(a.FMyNAD);
  RequestItems(FRequestVars, tItems);
  int32_t useful = 0;
  for (const auto& item : tItems) useful += item.FSize;
  bool ok;
  if (FWriteListMode) {
    ok = EncodeWriteList(FTx, myNAD, Target, tItems, a.FPLCPassword);
    size_t counted = 0;
    for (const auto& item : tItems)
      if (item.FSize == 1 || item.FSize == 2 || item.FSize == 4) ++counted;
    if (counted != FRequestCount && LogOn(LogLinkDiagnostics)) LogLine("Suspictius count in write Que!!!", false);
    if (useful != FRequestBytes && LogOn(LogLinkDiagnostics)) LogLine("Suspictius data in random write Que!!!", false);
  } else {
    for (size_t i = 1; i < tItems.size(); ++i) {
      if (tItems[i].FAddress != tItems[i - 1].FAddress + tItems[i - 1].FSize) {
        // Never formed by the scheduler; refused rather than written to the
        // wrong addresses. The tags stay pending.
        LogLine(kBlockWriteGap, true);
        return false;
      }
    }
    if (useful != FRequestBytes && LogOn(LogLinkDiagnostics)) LogLine("Suspictius data in block write Que!!!", false);
    ok = EncodeWriteBlock(FTx, myNAD, Target, tItems.front().FAddress, tItems, a.FPLCPassword);
  }
  if (!ok) {
    LogLine("Request not sent: frame does not fit", true);
    return false;
  }
  for (TNorvoVar* tag : FRequestVars) tag->FWriteRequest = false;
  if (FTransport) FTransport->Send(FTx.Bytes());
  if (LogOn(LogLinkDiagnostics))
    LogLine(std::string(FWriteListMode ? "WR_DATA_RANDOM REQ to " : "WR_DATA_BLOCK REQ to ") + Num(Target) +
                ", VarCount: " + Num(static_cast<int64_t>(FRequestCount)),
            false);
  if (plc) SetMarkers(*plc, false);
  BumpCounter(FEnv->Counters().FWriteCount);
  if (plc) BumpCounter(plc->FWriteCount);
  FEnv->Blink(nullptr, kBlinkWrite);
  FEnv->Blink(plc, kBlinkPLC);
  return true;
}

// ---- receiving -------------------------------------------------------------

void TCommDriver::QnetFrameReceived(const TQnetFrame& Frame) {
  if (!FEnv) return;
  TServerCommCounters& c = FEnv->Counters();
  const Clock& time = FEnv->Time();
  c.FLastGoodFrameTick = time.TickCount();
  c.FHasGoodFrameTick = true;
  c.FLastGoodFrameAt = time.Now();
  BumpCounter(c.FGoodFrameCount);
  c.FLastReceivedNAD = static_cast<int32_t>(Frame.FSenderNAD);
  if (TNorvoModel* plc = OpenRequestPLC();
      plc && Frame.FSenderNAD == static_cast<uint32_t>(plc->FNAD) &&
      Frame.FReceiverNAD == static_cast<uint32_t>(Applied().FMyNAD)) {
    BumpCounter(plc->FReceiveCount);
    plc->FLastReceivedAt = c.FLastGoodFrameAt;
  }
  DispatchFrame(Frame);
}

void TCommDriver::QnetFrameError(TQnetFrameError, uint32_t SenderNAD) {
  if (!FEnv) return;
  TServerCommCounters& c = FEnv->Counters();
  BumpCounter(c.FErrorCount);
  BumpCounter(c.FInvalidFrameCount);
  c.FLastInvalidFrameAt = FEnv->Time().Now();
  c.FLastInvalidFrameNAD = SenderNAD;
  TNorvoModel* plc = OpenRequestPLC();
  switch (FLastSentKind) {
    case RD_DATA: BumpCounter(c.FReadErrorCount); break;
    case RD_DATA_PERIODIC: BumpCounter(c.FBackgroundRefreshErrorCount); break;
    case WR_DATA: BumpCounter(c.FWriteErrorCount); break;
    default: break;
  }
  CountFrameError(plc);
}

void TCommDriver::CountFrameError(TNorvoModel* PLC) {
  if (!PLC) return;
  BumpCounter(PLC->FErrorCount);
  BumpCounter(PLC->FBadMessageCount);
  PLC->FLastBadMessageAt = FEnv->Time().Now();
  switch (FLastSentKind) {
    case RD_DATA: BumpCounter(PLC->FReadErrorCount); break;
    case RD_DATA_PERIODIC: BumpCounter(PLC->FBackgroundRefreshErrorCount); break;
    case WR_DATA: BumpCounter(PLC->FWriteErrorCount); break;
    default: break;
  }
}

void TCommDriver::DispatchFrame(const TQnetFrame& Frame) {
  if (!FEnv) return;
  const uint8_t d = Frame.FMsgDir, t = Frame.FMsgTyp;
  const uint32_t sender = Frame.FSenderNAD, receiver = Frame.FReceiverNAD;
  const uint32_t myNAD = static_cast<uint32_t>(Applied().FMyNAD);
  const std::string udp = IsUDP() ? "UDP " : "";
  TServerCommCounters& c = FEnv->Counters();
  const Clock& time = FEnv->Time();
  const auto unhandled = [&](bool withCommand, const char* head) {
    if (!LogOn(LogLinkDiagnostics)) return;
    std::string line = udp + head + Num(sender) + ", Receiver: " + Num(receiver) + ", MsgDir: " + Num(d) +
                       ", MsgTyp: " + Num(t);
    if (withCommand) line += ", MsgCMD: " + Num(Frame.MsgCMD()) + ", MsgLen: " + Num(Frame.FLength);
    LogLine(line, false);
  };

  if (!Frame.HasBody()) {
    unhandled(false, "NotHandled Message, Sender: ");
  } else if (d == kMsgDirRequest && t == 0 && Frame.FLength >= 3) {
    if (Frame.MsgCMD() != kCmdPermission) return unhandled(true, "NotHandled Message, Sender: ");
    const uint32_t tick = time.TickCount();
    BumpCounter(c.FPermissionCount);
    c.FPermissionInterval = TickDiff(tick, c.FLastPermissionFrameTick);
    c.FLastPermissionFrameTick = tick;
    c.FLastPermissionReceiver = receiver;
    if (receiver == myNAD && !FPermissionHandledInEvent) {
      FPermissionHandledInEvent = true;
      BumpCounter(c.FMasterToOpcRequestCount);
      c.FCurrentMasterNAD = sender;
      c.FOwnPermissionInterval = TickDiff(tick, c.FLastOwnPermissionTick);
      c.FLastOwnPermissionTick = tick;
      HandleSendPermission(sender, receiver);
    } else {
      unhandled(true, "UnHandled Message, Sender: ");
    }
    if (receiver == myNAD) FEnv->Blink(nullptr, kBlinkPermissionTo);
    FEnv->BlinkNAD(sender, kBlinkPermissionFrom);
    FEnv->BlinkNAD(receiver, kBlinkPermissionTo);
  } else if (d == kMsgDirAnswer && t == kMsgTypSocket && Frame.FLength >= 3) {
    BumpCounter(c.FSocketFrameCount);
    c.FLastSocketFrameAt = time.Now();
    c.FLastSocketFrameNAD = sender;
    HandleSocketFrame(sender, receiver, Frame.FData, Frame.FDataLength);
  } else if (d == kMsgDirAnswer && t == kMsgTypAnswer) {
    BumpCounter(c.FAckCount);
    c.FLastAckAt = time.Now();
    c.FLastAckNAD = sender;
    HandleAcknowledge(sender, receiver, Frame.FData, Frame.FDataLength);
  } else if (d >= 2 && receiver == myNAD) {
    TNorvoModel* eventPLC = FEventPLC && FEnv->IsKnownPLC(FEventPLC) ? FEventPLC : OpenRequestPLC();
    if (d == kMsgDirNak) HandleNak(sender, receiver, Frame.FData, Frame.FDataLength);
    BumpCounter(c.FNakCount);
    c.FLastNakAt = time.Now();
    c.FLastNakNAD = sender;
    if (eventPLC) {
      BumpCounter(eventPLC->FNakCount);
      eventPLC->FLastNakAt = c.FLastNakAt;
    }
  } else {
    unhandled(false, "NotHandled Message, Sender: ");
  }
}

void TCommDriver::HandleSendPermission(uint32_t Sender, uint32_t Receiver) {
  if (LogOn(LogReceivedCommands))
    LogLine("serAction_AnswerMasterSEND_PERM_request  SENDER: " + Num(Sender) + "   RECEIVER: " + Num(Receiver), false);
  if (FPreparePending) {
    if (LogOn(LogCommActions)) LogLine("Second call denied in RxCh", false);
    return;
  }
  FPreparePending = true;
  FCallTo.FDriver = this;
  FCallTo.FGrantorNAD = static_cast<int32_t>(Sender);
  FCallTo.FTargetNAD = static_cast<int32_t>(Receiver);
  FCallTo.FTick = FEnv->Time().TickCount();
}

void TCommDriver::HandleSocketFrame(uint32_t Sender, uint32_t Receiver, const uint8_t* Data, size_t Length) {
  if (LogOn(LogReceivedMessages))
    LogLine("serAction_OnReceiveSocket                SENDER: " + Num(Sender) + "   RECEIVER: " + Num(Receiver) +
                "   LENGTH: " + Num(static_cast<int64_t>(Length)),
            false);
  FEnv->RefreshNow();
  FEnv->DistributeSocketData(static_cast<int>(Sender), static_cast<int>(Receiver), Data, Length);
}

// Decodes a read answer into the request tags (or, for a negative
// acknowledge, marks them). Returns through the PLC's markers whether it
// was taken: they are cleared only on success.
void TCommDriver::DecodeRead(uint32_t Sender, const uint8_t* Data, size_t Length, bool Nak) {
  TNorvoModel* plc = FLastSentPLC;
  RequestItems(FRequestVars, tItems);
  std::array<size_t, kMaxRequestVars> offsets;
  const std::span<size_t> out(offsets.data(), tItems.size());
  if (!ReadAnswerOffsets(tItems, FReadListMode, tItems.front().FAddress, Length, out)) {
    if (LogOn(LogCommActions))
      LogLine(std::string(FReadListMode ? kRandomDataNotValid : kBlockDataNotValid) + Num(Sender) +
                  " ,[0].NorvoNAD: " + Num(plc->FNAD),
              false);
    return;
  }
  for (size_t i = 0; i < FRequestVars.size(); ++i) {
    TNorvoVar* tag = FRequestVars[i];
    if (tag->FDeletePending) continue;
    tag->FNoReplyCount = 0;
    if (Nak) {
      tag->FNakError = true;
      tag->FForced = false;
      continue;
    }
    if (!tag->FWritePending) tag->FForced = false;
    if (tItems[i].FSize == 0) continue;
    const std::span<const uint8_t> bytes(Data + offsets[i], tItems[i].FSize);
    tag->UpdateFromPLC(static_cast<int32_t>(DecodeValue(bytes, tag->FVarType)));
  }
  FEnv->Blink(plc, kBlinkRead);
  ClearMarkers(*plc);
}

void TCommDriver::NoteResponse(TNorvoModel* PLC, uint32_t Sender, const uint8_t* Data, size_t Length) {
  const Clock& time = FEnv->Time();
  const uint32_t tick = time.TickCount();
  if (FLastSentKind == RD_STATUS && Length >= 2) {
    PLC->FStatusReplyTick = tick;
    PLC->FSystemStatus = Data[0];
    PLC->FPLCStatus = Data[1];
  } else if (FLastSentKind == WR_UPDATE_RTC && Sender == static_cast<uint32_t>(PLC->FNAD)) {
    PLC->FLastRTCUpdate = time.Now();
  }
  const int32_t response = static_cast<int32_t>(TickDiff(tick, PLC->FLastSendTick));
  PLC->FLastResponseTime = response;
  if (response > PLC->FMaxResponseTime) {
    PLC->FMaxResponseTime = response;
    PLC->FMaxResponseTimeAt = time.Now();
  }
  PLC->FUnansweredCount = 0;
  TServerCommCounters& c = FEnv->Counters();
  c.FLastResponseTime = static_cast<int32_t>(TickDiff(tick, c.FLastSendTick));
  if (c.FLastResponseTime > c.FMaxResponseTime) {
    c.FMaxResponseTime = c.FLastResponseTime;
    c.FMaxResponseTimeAt = time.Now();
    c.FMaxResponseTimeNAD = static_cast<uint32_t>(PLC->FNAD);
  }
}

namespace {

// The server's last read, background read or write, by the open request's kind.
void NoteLastTransfer(TServerCommCounters& C, uint8_t Kind, uint32_t Sender, TDateTime Now) {
  switch (Kind) {
    case RD_DATA:
      C.FLastReadAt = Now;
      C.FLastReadNAD = Sender;
      break;
    case RD_DATA_PERIODIC:
      C.FLastBackgroundRefreshAt = Now;
      C.FLastBackgroundRefreshNAD = Sender;
      break;
    case WR_DATA:
      C.FLastWriteAt = Now;
      C.FLastWriteNAD = Sender;
      break;
    default:
      break;
  }
}

}  // namespace

void TCommDriver::HandleAcknowledge(uint32_t Sender, uint32_t Receiver, const uint8_t* Data, size_t Length) {
  if (LogOn(LogReceivedCommands))
    LogLine("serAction_OnReceive_CMD_acknowlege    SENDER: " + Num(Sender) + "   RECEIVER: " + Num(Receiver) +
                "   LENGTH: " + Num(static_cast<int64_t>(Length)),
            false);
  if (Receiver != static_cast<uint32_t>(Applied().FMyNAD)) return;
  FEnv->RefreshNow();
  FLastSentPLC = OpenRequestPLC();
  TNorvoModel* plc = FLastSentPLC;
  if (plc && FRequestCount > 0 && !FRequestVars.empty()) {
    NoteLastTransfer(FEnv->Counters(), FLastSentKind, Sender, FEnv->Time().Now());
    switch (FLastSentKind) {
      case RD_DATA:
      case RD_DATA_PERIODIC:
        DecodeRead(Sender, Data, Length, false);
        break;
      case WR_DATA:
        for (TNorvoVar* tag : FRequestVars)
          if (!tag->FDeletePending) tag->WriteConfirmed();
        ClearMarkers(*plc);
        FEnv->Blink(plc, kBlinkWrite);
        break;
      default:
        break;
    }
  }
  if (plc) NoteResponse(plc, Sender, Data, Length);
  FEnv->DoNextMasterStep(*this);
  FLastSentPLC = nullptr;
  ClearRequest();
}

void TCommDriver::HandleNak(uint32_t Sender, uint32_t Receiver, const uint8_t* Data, size_t Length) {
  if (LogOn(LogReceivedCommands))
    LogLine("serAction_OnReceive_CMD_NAK    SENDER: " + Num(Sender) + "   RECEIVER: " + Num(Receiver) +
                "   LENGTH: " + Num(static_cast<int64_t>(Length)),
            false);
  if (Receiver != static_cast<uint32_t>(Applied().FMyNAD)) return;
  FEnv->RefreshNow();
  FLastSentPLC = OpenRequestPLC();
  TNorvoModel* plc = FLastSentPLC;
  if (plc && FRequestCount > 0 && !FRequestVars.empty()) {
    // A refusal still ends the transfer: the last read or write time says
    // the PLC was reached.
    NoteLastTransfer(FEnv->Counters(), FLastSentKind, Sender, FEnv->Time().Now());
    if (FLastSentKind == RD_DATA || FLastSentKind == RD_DATA_PERIODIC) {
      DecodeRead(Sender, Data, Length, true);
    } else if (FLastSentKind == WR_DATA) {
      // The values stay pending, so the write is sent again.
      for (TNorvoVar* tag : FRequestVars) {
        if (tag->FDeletePending) continue;
        tag->FNakError = true;
        tag->FForced = false;
      }
      ClearMarkers(*plc);
      FEnv->Blink(plc, kBlinkWrite);
    }
  }
  if (plc) {
    NoteResponse(plc, Sender, Data, Length);
    FEnv->DoNextMasterStep(*this);
  }
  FLastSentPLC = nullptr;
}
