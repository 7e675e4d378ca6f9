// One communication driver: a serial port or a UDP target, shared by every
// PLC that reaches it. It owns its transport, its transmit buffer and the
// one request that is being formed or is in flight; it holds the
// scheduler's resume positions and takes the frames its transport receives.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "comm/comm_environment.h"
#include "comm/comm_settings.h"
#include "comm/comm_transport.h"
#include "comm/qnet_frame.h"
#include "comm/transport_host.h"

class TNorvoModel;
class TNorvoVar;

// Request kinds.
inline constexpr uint8_t RD_DATA = 1;
inline constexpr uint8_t WR_DATA = 2;
inline constexpr uint8_t RD_DATA_PERIODIC = 3;
inline constexpr uint8_t CLOSE_PERM = 4;
inline constexpr uint8_t RD_STATUS = 5;
inline constexpr uint8_t WR_UPDATE_RTC = 6;
inline constexpr size_t kRequestKindSlots = 7;
// The most tags one request can carry.
inline constexpr size_t kMaxRequestVars = 1201;

// The log text of a kind in the communication-actions trace ("" for the
// kinds that have none).
const char* RequestKindText(uint8_t Kind);

class TCommDriver;

// A preparation asked for and not yet run.
struct TPrepareMYMSG_CALLTO {
  TCommDriver* FDriver = nullptr;
  int32_t FGrantorNAD = -1;  // -1: the server is master
  int32_t FTargetNAD = 0;
  uint32_t FTick = 0;
};

using TPLCList = std::vector<std::unique_ptr<TNorvoModel>>;

class TCommDriver final : public ITransportHost, public IQnetRxSink {
 public:
  explicit TCommDriver(const TCommunicationSettings& Settings);
  ~TCommDriver() override;
  TCommDriver(const TCommDriver&) = delete;
  TCommDriver& operator=(const TCommDriver&) = delete;

  bool IsSerial() const { return FSettings.IsSerial(); }
  bool IsUDP() const { return FSettings.IsUDP(); }

  // Env must outlive the driver (or be detached with null first).
  void Attach(ICommEnvironment* Env) { FEnv = Env; }
  ICommEnvironment* Environment() const { return FEnv; }
  void SetTransport(std::unique_ptr<ICommTransport> Transport);
  ICommTransport* Transport() const { return FTransport.get(); }
  // The tags in flight are left alone: they may already be gone with their
  // PLC. Call ClearRequest while they still live.
  void FreeTransport();

  // ---- request forming (the scheduler's side) ----
  // Clears FInRequest of the previous request's tags and empties the list.
  void ClearRequest();
  // Offers Tag (null: close the request) at Index of its PLC's tag list.
  // Returns whether it was taken; LastIndex is the index of the last tag
  // kept once the request is closed.
  bool AddToRequest(uint8_t Kind, TNorvoVar* Tag, int32_t Index, int32_t& LastIndex);
  // The next index of PLCs, cyclically, whose PLC uses this driver; 0 when
  // none does within one turn.
  int32_t NextPLCIndex(const TPLCList& PLCs, int32_t Index) const;
  // The resume index of a kind, repaired when it no longer fits.
  int32_t LastPLCIndex(const TPLCList& PLCs, uint8_t Kind) const;
  // Bytes the formed read carries (block span or useful list bytes).
  int32_t RequestBytes() const { return FRequestBytes; }
  int32_t RequestBlockStart() const { return FBlockStart; }

  // ---- the command layer (commands.cpp) ----
  void SendRequest(uint8_t Kind, int32_t GrantorNAD, TNorvoModel* PLC);
  void DispatchFrame(const TQnetFrame& Frame);
  void HandleAcknowledge(uint32_t Sender, uint32_t Receiver, const uint8_t* Data, size_t Length);
  void HandleNak(uint32_t Sender, uint32_t Receiver, const uint8_t* Data, size_t Length);
  void HandleSocketFrame(uint32_t Sender, uint32_t Receiver, const uint8_t* Data, size_t Length);
  void HandleSendPermission(uint32_t Sender, uint32_t Receiver);
  // One receive event of raw bytes into the driver's own buffer (tests, and
  // transports that hand bytes over instead of reassembling them).
  int ReceiveChunk(std::span<const uint8_t> Bytes);
  // The open request's PLC, if it is still part of the project set.
  TNorvoModel* OpenRequestPLC() const;

  // ---- ITransportHost ----
  bool Communicating() const override;
  const TAppliedSettings& Applied() const override;
  void LogLine(const std::string& Line, bool Important) override;
  void LogDebug(const std::string& Line) override;
  void SignalReceive() override;
  void SignalTransmit() override;
  void PortStateChanged() override;
  void CountTransmittedFrame() override;
  IQnetRxSink& FrameSink() override { return *this; }
  std::optional<uint32_t> OpenRequestNAD() const override;
  void DedicatedAddressFound(uint32_t Address) override;

  // ---- IQnetRxSink ----
  bool QnetLogEnabled() const override;
  void QnetLog(std::string_view Line) override;
  void QnetFrameError(TQnetFrameError Error, uint32_t SenderNAD) override;
  void QnetFrameReceived(const TQnetFrame& Frame) override;

  // Its own copy: later changes of the connection list do not reach it
  // until the drivers are rebuilt.
  TCommunicationSettings FSettings;
  // PLCs holding a reference; freed when it drops to zero or below.
  int32_t FUseCount = 0;
  // The status-bar indicator: "COM " + port for serial; UDP drivers share "ETH".
  std::string FPortCaption;
  // IPv4 address (host order) of the Ethernet adapter a UDP driver was bound
  // on; a new adapter choice makes the driver unusable for new PLCs.
  uint32_t FBoundAdapterAddress = 0;
  // The transport object exists (serial port object or bound UDP socket).
  bool FTransportCreated = false;
  // The transport is running (port open).
  bool FActive = false;
  // The port indicator's image (kIndicator*).
  int FIndicatorState = 0;

  // The frame being sent.
  TQnetTxBuffer FTx;
  // Bytes handed to ReceiveChunk, reassembled like a transport's.
  TQnetRxBuffer FRx;
  TQnetRxStamp FRxStamp;

  // The request being formed or in flight: tags in PLC list order (not
  // owned; a released tag in flight is held by the project set until
  // ClearRequest drops it).
  std::vector<TNorvoVar*> FRequestVars;
  size_t FRequestCount = 0;
  // The PLC whose tags (or status) the request was formed for.
  TNorvoModel* FRequestPLC = nullptr;
  bool FReadListMode = false;
  bool FWriteListMode = false;

  // Scheduler state.
  uint8_t FRequestKind = RD_DATA_PERIODIC;
  std::array<int32_t, kRequestKindSlots> FLastPLCIndex{};
  std::array<int32_t, kRequestKindSlots> FLastVarIndex{};
  int32_t FReadBlockLimit = 512;
  int32_t FPriorityCycle = 0;
  std::array<int32_t, kRequestKindSlots> FSavedPLCIndex{};
  std::array<int32_t, kRequestKindSlots> FSavedVarIndex{};
  uint8_t FSavedRequestKind = RD_DATA_PERIODIC;
  // During a priority cycle, the index searches return to; -1 otherwise.
  int32_t FPriorityIndex = -1;
  // A request preparation has been asked for and not yet run.
  bool FPreparePending = false;
  // The preparation has been posted and waits in the message queue.
  bool FPreparePosted = false;
  TPrepareMYMSG_CALLTO FCallTo;
  uint32_t FLastTxTick = 0;

  // The open request.
  uint8_t FLastSentKind = 0;
  TNorvoModel* FLastSentPLC = nullptr;  // null when none is open; not owned
  bool FSending = false;

 private:
  struct TCandidate {
    size_t FCount = 0;
    int32_t FLastIndex = -1;
    int32_t FUseful = 0;
  };
  bool AddToRead(TNorvoVar* Tag, int32_t Index, int32_t& LastIndex);
  bool AddToWrite(TNorvoVar* Tag, int32_t Index, int32_t& LastIndex);
  void CloseRequest(bool ListMode, const TCandidate& Chosen, int32_t& LastIndex);
  void ResetForming();

  // commands.cpp
  bool SendRead(uint8_t Kind, uint32_t Target, TNorvoModel* PLC);
  bool SendWrite(uint32_t Target, TNorvoModel* PLC);
  void DecodeRead(uint32_t Sender, const uint8_t* Data, size_t Length, bool Nak);
  void NoteResponse(TNorvoModel* PLC, uint32_t Sender, const uint8_t* Data, size_t Length);
  void CountFrameError(TNorvoModel* PLC);
  bool LogOn(bool (*Gate)(const TLogOptions&)) const;

  ICommEnvironment* FEnv = nullptr;  // not owned
  std::unique_ptr<ICommTransport> FTransport;

  // Forming bookkeeping.
  int32_t FUseful = 0;
  int32_t FListSize = 6;
  int32_t FBlockStart = 0;
  int32_t FBlockEnd = 0;
  bool FBlockBroken = false;
  TCandidate FBlockCandidate;
  TCandidate FListCandidate;
  int32_t FRequestBytes = 0;

  // The open request's PLC when the current receive event began.
  TNorvoModel* FEventPLC = nullptr;
  bool FPermissionHandledInEvent = false;
};
