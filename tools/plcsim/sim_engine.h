// The simulated Q-net stations: PLC memories, answers to requests, faults,
// moving values, socket data and the network master's permission round.
// Pure: bytes and ticks in, frames out with their due ticks; no I/O.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "comm/qnet_codec.h"
#include "comm/qnet_frame.h"

enum class TSimFault { None, Silence, Nak, Short, BadCrc, Garbage };

std::optional<TSimFault> SimFaultFromName(std::string_view Name);
std::string_view SimFaultName(TSimFault Fault);

// Type names as the operator writes them: bit, word, int, long, real.
std::optional<uint8_t> SimTypeFromName(std::string_view Name);
std::string_view SimTypeName(uint8_t Type);

enum class TSimChange { None, Counter, Ramp };

// One variable of a PLC; an allocation reader can supply these as well.
struct TSimVar {
  uint16_t FAddress = 0;
  uint8_t FType = 3;  // type code: 1 bit, 2 word, 3 int, 4 long, 5 real
  TSimChange FChange = TSimChange::None;
  std::string FName;
};

struct TSimPlc {
  uint32_t FNAD = 0;
  std::vector<uint8_t> FMemory = std::vector<uint8_t>(65536, 0);
  uint8_t FSystemStatus = 1;   // kernel
  uint8_t FProgramStatus = 2;  // run
  TSimFault FFault = TSimFault::None;
  uint32_t FDelayMs = 0;
  uint16_t FPassword = 0;  // 0: requests need none
  std::vector<TSimVar> FVars;
  std::optional<TQnetClock> FClock;  // last clock set by a client

  // Reads and writes a typed value at an address; false when out of range.
  bool Store(uint16_t Address, uint8_t Type, uint32_t Raw);
  std::optional<uint32_t> Load(uint16_t Address, uint8_t Type) const;
};

// A socket frame sent periodically: either a raw memory range, or, when
// FVars is given, those variables' values back to back in the order listed
// (a project's socket lists them by wire size already).
struct TSimSocket {
  uint32_t FSender = 0;
  uint32_t FReceiver = 0;  // 0: to all
  uint16_t FAddress = 0;
  uint16_t FLength = 0;
  uint32_t FPeriodMs = 1000;
  std::vector<TSimVar> FVars;
};

struct TSimMaster {
  bool FEnabled = false;
  uint32_t FMasterNAD = 0;
  std::vector<uint32_t> FStations;
  uint32_t FTimeoutMs = 1000;
  uint32_t FGapMs = 20;
};

// Where an answer goes: back to the sender of the request, or to the
// configured peer for frames nobody asked for.
struct TSimEndpoint {
  uint32_t FIp = 0;  // host order
  uint16_t FPort = 0;
  bool FValid = false;
};

struct TSimOutput {
  std::vector<uint8_t> FBytes;
  uint32_t FDueTick = 0;
  TSimEndpoint FTo;  // invalid: the configured peer
};

struct TSimStats {
  uint64_t FFramesIn = 0;
  uint64_t FFrameErrors = 0;
  uint64_t FAnswers = 0;
  uint64_t FNaks = 0;
  uint64_t FIgnored = 0;
  uint64_t FPermissionsSent = 0;
  uint64_t FPermissionsReturned = 0;
  uint64_t FMasterTimeouts = 0;
  uint64_t FSocketFrames = 0;
};

class TSimulator : private IQnetRxSink {
 public:
  TSimulator();

  TSimPlc& AddPlc(uint32_t NAD);
  TSimPlc* FindPlc(uint32_t NAD);
  void AddVariable(uint32_t NAD, const TSimVar& Var);  // NAD 0: every PLC
  void AddSocket(const TSimSocket& Socket) { FSockets.push_back({Socket, 0, false}); }
  void SetMaster(const TSimMaster& Master) { FMaster = Master; }
  void SetChangePeriod(uint32_t Ms) { FChangePeriodMs = Ms; }
  void SetTransport(TQnetTransport Transport) { FTransport = Transport; }

  // Bytes received from From at Tick: reassembled into frames and answered.
  void Receive(std::span<const uint8_t> Bytes, uint32_t Tick, const TSimEndpoint& From);
  // One valid frame: the answers it earns are queued.
  void HandleFrame(const TQnetFrame& Frame, uint32_t Tick, const TSimEndpoint& From);
  // Periodic work: value changes, socket frames, the master's round.
  void Tick(uint32_t Tick);
  // Removes and returns the outputs due at Tick, in order.
  std::vector<TSimOutput> TakeDue(uint32_t Tick);
  // Ticks until the next output or periodic job is due (capped at Cap).
  uint32_t MsUntilNextWork(uint32_t Tick, uint32_t Cap) const;

  // One control line ("fault 1 nak", "set 1 0x40 int 123", ...). Returns
  // the one-line reply; sets Quit for "quit".
  std::string Control(std::string_view Line, bool& Quit);

  // Event lines (clock set, master timeouts); taken by the caller to print.
  std::vector<std::string> TakeEvents();
  const TSimStats& Stats() const { return FStats; }

 private:
  struct SocketState {
    TSimSocket FSocket;
    uint32_t FNextTick;
    bool FStarted;
  };

  bool QnetLogEnabled() const override { return false; }
  void QnetLog(std::string_view) override {}
  void QnetFrameError(TQnetFrameError Error, uint32_t SenderNAD) override;
  void QnetFrameReceived(const TQnetFrame& Frame) override;

  void Answer(TSimPlc& Plc, const TQnetFrame& Request, uint8_t MsgDir, std::span<const uint8_t> Data,
              uint32_t Tick, const TSimEndpoint& To);
  void Emit(uint32_t Due, const TSimEndpoint& To);
  void AnswerRequest(TSimPlc& Plc, const TQnetFrame& Frame, uint32_t Tick, const TSimEndpoint& From);
  void ChangeValues();
  // The payload of a socket frame from the sender's memory; its length.
  size_t SocketData(const TSimPlc& Plc, const TSimSocket& Socket, uint8_t* Out) const;
  void MasterStep(uint32_t Tick);
  void EndMasterTurn(uint32_t Tick);
  void Event(std::string Line) { FEvents.push_back(std::move(Line)); }

  std::map<uint32_t, TSimPlc> FPlcs;
  std::vector<SocketState> FSockets;
  TSimMaster FMaster;
  // Master round: the station holding the permission and when it expires.
  size_t FMasterIndex = 0;
  bool FMasterWaiting = false;
  uint32_t FMasterDeadline = 0;
  uint32_t FMasterNextGrant = 0;
  bool FMasterStarted = false;

  uint32_t FChangePeriodMs = 1000;
  uint32_t FNextChange = 0;
  bool FChangeStarted = false;
  uint64_t FChangeStep = 0;

  TQnetTransport FTransport = TQnetTransport::Udp;
  TQnetRxBuffer FRx;
  TQnetRxStamp FStamp;
  TQnetTxBuffer FTx;
  // Context of the receive event being processed, for the sink callbacks.
  uint32_t FRxTick = 0;
  TSimEndpoint FRxFrom;

  std::vector<TSimOutput> FOut;
  std::vector<std::string> FEvents;
  TSimStats FStats;
};
