#include "comm/comm_driver.h"

#include <algorithm>

#include "log/log_gates.h"
#include "model/norvo_model.h"

namespace {
// A driver not yet attached reads the defaults and sends nothing.
const TAppliedSettings& DefaultApplied() {
  static const TAppliedSettings applied;
  return applied;
}
}  // namespace

const char* RequestKindText(uint8_t Kind) {
  switch (Kind) {
    case RD_DATA: return "RD_DATA           ";
    case WR_DATA: return "WR_DATA           ";
    case RD_DATA_PERIODIC: return "RD_DATA PERIODIC  ";
    case RD_STATUS: return "RD_STATUS         ";
    default: return "";
  }
}

TCommDriver::TCommDriver(const TCommunicationSettings& Settings) : FSettings(Settings) {
  FPortCaption = IsSerial() ? "COM " + std::to_string(FSettings.FCommPort) : std::string("ETH");
  FCallTo.FDriver = this;
  FRequestVars.reserve(64);
}

TCommDriver::~TCommDriver() = default;

void TCommDriver::SetTransport(std::unique_ptr<ICommTransport> Transport) {
  FTransport = std::move(Transport);
  FTransportCreated = FTransport != nullptr;
}

void TCommDriver::FreeTransport() {
  FTransport.reset();
  FTransportCreated = false;
}

// ---- request forming -------------------------------------------------------

void TCommDriver::ClearRequest() {
  for (TNorvoVar* tag : FRequestVars) tag->FInRequest = false;
  const bool hadTags = !FRequestVars.empty();
  FRequestVars.clear();
  FRequestCount = 0;
  FRequestPLC = nullptr;
  ResetForming();
  if (hadTags && FEnv) FEnv->RequestEnded();
}

void TCommDriver::ResetForming() {
  FUseful = 0;
  FListSize = 6;
  FBlockStart = 0;
  FBlockEnd = 0;
  FBlockBroken = false;
  FBlockCandidate = {};
  FListCandidate = {};
  FRequestBytes = 0;
}

bool TCommDriver::AddToRequest(uint8_t Kind, TNorvoVar* Tag, int32_t Index, int32_t& LastIndex) {
  if (Kind == WR_DATA) return AddToWrite(Tag, Index, LastIndex);
  return AddToRead(Tag, Index, LastIndex);
}

bool TCommDriver::AddToRead(TNorvoVar* Tag, int32_t Index, int32_t& LastIndex) {
  const TAppliedSettings& a = Applied();
  const int32_t maxBlock = std::clamp(a.FMaxBlockSize, 4, 1024);
  const int32_t minUsage = std::clamp(a.FMinBlockUsage, 1, 100);
  if (FRequestVars.empty()) {
    if (FReadBlockLimit < 4 || FReadBlockLimit > 1024) FReadBlockLimit = maxBlock;
    ResetForming();
  }
  if (Tag && FRequestVars.size() < kMaxRequestVars) {
    const int32_t size = VarTypeSize(Tag->FVarType);
    FRequestVars.push_back(Tag);
    const size_t n = FRequestVars.size();
    FUseful += size;
    FListSize += 2;
    // The block must cover every tag taken; one lying before the first tag
    // can never be reached from the block's start.
    if (n == 1) {
      FBlockStart = Tag->FAddress;
      FBlockEnd = Tag->FAddress + size;
    } else if (Tag->FAddress < FBlockStart) {
      FBlockBroken = true;
    } else {
      FBlockEnd = std::max(FBlockEnd, Tag->FAddress + size);
    }
    const int32_t span = FBlockEnd - FBlockStart;
    bool taken = false;
    if (!FBlockBroken && span <= FReadBlockLimit && span != 0 && FUseful * 100 / span >= minUsage) {
      FBlockCandidate = {n, Index, FUseful};
      taken = true;
    }
    if (FReadBlockLimit >= FListSize && FReadBlockLimit >= FUseful && !a.FBackwardCompatible) {
      FListCandidate = {n, Index, FUseful};
      taken = true;
    }
    if (taken) return true;
  }
  const bool list = FBlockCandidate.FUseful < FListCandidate.FUseful && !a.FBackwardCompatible;
  CloseRequest(list, list ? FListCandidate : FBlockCandidate, LastIndex);
  FReadListMode = list;
  return false;
}

bool TCommDriver::AddToWrite(TNorvoVar* Tag, int32_t Index, int32_t& LastIndex) {
  const TAppliedSettings& a = Applied();
  const int32_t maxBlock = a.FMaxBlockSize;
  if (FRequestVars.empty()) ResetForming();
  if (Tag && FRequestVars.size() < kMaxRequestVars) {
    const int32_t size = VarTypeSize(Tag->FVarType);
    const TNorvoVar* previous = FRequestVars.empty() ? nullptr : FRequestVars.back();
    FRequestVars.push_back(Tag);
    const size_t n = FRequestVars.size();
    FUseful += size;
    FListSize += 2;
    bool taken = false;
    if (!previous) {
      FBlockCandidate = {n, Index, FUseful};
      taken = true;
    } else if (!FBlockBroken) {
      if (Tag->FAddress == previous->FAddress + VarTypeSize(previous->FVarType) && maxBlock >= FUseful) {
        FBlockCandidate = {n, Index, FUseful};
        taken = true;
      } else {
        FBlockBroken = true;
      }
    }
    if (FUseful + FListSize <= maxBlock && !a.FBackwardCompatible) {
      FListCandidate = {n, Index, FUseful};
      taken = true;
    }
    if (taken) return true;
  }
  const bool list = FBlockCandidate.FUseful < FListCandidate.FUseful && !a.FBackwardCompatible;
  CloseRequest(list, list ? FListCandidate : FBlockCandidate, LastIndex);
  FWriteListMode = list;
  return false;
}

void TCommDriver::CloseRequest(bool ListMode, const TCandidate& Chosen, int32_t& LastIndex) {
  FRequestVars.resize(std::min(FRequestVars.size(), Chosen.FCount));
  FRequestCount = FRequestVars.size();
  LastIndex = Chosen.FLastIndex;
  int32_t start = 0, end = 0;
  for (size_t i = 0; i < FRequestVars.size(); ++i) {
    TNorvoVar* tag = FRequestVars[i];
    tag->FInRequest = true;
    const int32_t size = VarTypeSize(tag->FVarType);
    if (i == 0) {
      start = tag->FAddress;
      end = start + size;
    } else {
      end = std::max(end, tag->FAddress + size);
    }
  }
  FBlockStart = start;
  FRequestBytes = ListMode ? Chosen.FUseful : end - start;
}

int32_t TCommDriver::NextPLCIndex(const TPLCList& PLCs, int32_t Index) const {
  const int32_t count = static_cast<int32_t>(PLCs.size());
  if (count == 0) return 0;
  int32_t i = Index;
  for (int32_t step = 0; step < count; ++step) {
    i = (i + 1) % count;
    if (i < 0) i = 0;
    if (PLCs[static_cast<size_t>(i)]->FDriver == this) return i;
  }
  return 0;
}

int32_t TCommDriver::LastPLCIndex(const TPLCList& PLCs, uint8_t Kind) const {
  int32_t index = Kind < kRequestKindSlots ? FLastPLCIndex[Kind] : 0;
  if (index < 0 || static_cast<size_t>(index) >= PLCs.size()) index = 0;
  if (!PLCs.empty() && PLCs[static_cast<size_t>(index)]->FDriver != this) index = NextPLCIndex(PLCs, index);
  return index;
}

// ---- transport host ------------------------------------------------------

bool TCommDriver::Communicating() const { return FEnv && FEnv->Communicating(); }

const TAppliedSettings& TCommDriver::Applied() const { return FEnv ? FEnv->Applied() : DefaultApplied(); }

bool TCommDriver::LogOn(bool (*Gate)(const TLogOptions&)) const { return FEnv && Gate(FEnv->Applied()); }

void TCommDriver::LogLine(const std::string& Line, bool Important) {
  if (FEnv) FEnv->Log(Line, Important);
}

void TCommDriver::LogDebug(const std::string& Line) {
  if (FEnv) FEnv->LogDebug(Line);
}

void TCommDriver::SignalReceive() {
  FEventPLC = FLastSentPLC;
  FPermissionHandledInEvent = false;
  if (FEnv) FEnv->PortActivity(*this, true);
}

void TCommDriver::SignalTransmit() {
  if (FEnv) FEnv->PortActivity(*this, false);
}

void TCommDriver::PortStateChanged() {
  if (FEnv) FEnv->PortStateChanged(*this);
}

void TCommDriver::CountTransmittedFrame() {
  if (FEnv) BumpCounter(FEnv->Counters().FTransmitCount);
}

std::optional<uint32_t> TCommDriver::OpenRequestNAD() const {
  if (const TNorvoModel* plc = OpenRequestPLC()) return static_cast<uint32_t>(plc->FNAD);
  return std::nullopt;
}

void TCommDriver::DedicatedAddressFound(uint32_t Address) {
  if (TNorvoModel* plc = OpenRequestPLC(); plc && FEnv) FEnv->DedicatedAddressFound(*plc, Address);
}

TNorvoModel* TCommDriver::OpenRequestPLC() const {
  if (!FLastSentPLC || !FEnv || !FEnv->IsKnownPLC(FLastSentPLC)) return nullptr;
  return FLastSentPLC;
}

int TCommDriver::ReceiveChunk(std::span<const uint8_t> Bytes) {
  SignalReceive();
  const uint32_t tick = FEnv ? FEnv->Time().TickCount() : 0;
  return ReceiveBytes(FRx, FRxStamp, Bytes, tick, IsUDP() ? TQnetTransport::Udp : TQnetTransport::Serial, *this);
}

bool TCommDriver::QnetLogEnabled() const { return LogOn(LogLinkDiagnostics); }

void TCommDriver::QnetLog(std::string_view Line) {
  if (FEnv) FEnv->Log(std::string(Line), false);
}
