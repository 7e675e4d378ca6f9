#include "sim_engine.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace {

constexpr const char* kFaultNames[] = {"none", "silence", "nak", "short", "badcrc", "garbage"};
constexpr const char* kTypeNames[] = {"", "bit", "word", "int", "long", "real"};
// Twenty bytes that never hold 0xAA 0x55, so a receiver sees only noise.
constexpr uint8_t kNoise[20] = {0x13, 0x37, 0x00, 0xFF, 0x5A, 0xA5, 0x01, 0x02, 0x03, 0x04,
                                0x55, 0xAA, 0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80};

bool Due(uint32_t tick, uint32_t at) { return static_cast<int32_t>(tick - at) >= 0; }

std::vector<std::string_view> Words(std::string_view s) {
  std::vector<std::string_view> out;
  size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\r' || s[i] == '\n')) ++i;
    size_t j = i;
    while (j < s.size() && s[j] != ' ' && s[j] != '\t' && s[j] != '\r' && s[j] != '\n') ++j;
    if (j > i) out.push_back(s.substr(i, j - i));
    i = j;
  }
  return out;
}

// Decimal or 0x-prefixed hexadecimal, fully consumed and within Max.
std::optional<uint64_t> Number(std::string_view s, uint64_t max) {
  int base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    s.remove_prefix(2);
    base = 16;
  }
  uint64_t v = 0;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v, base);
  if (s.empty() || ec != std::errc() || p != s.data() + s.size() || v > max) return std::nullopt;
  return v;
}

// A value text for a type: a float for real, a signed or unsigned integer
// otherwise, truncated to the type's width.
std::optional<uint32_t> ParseValue(std::string_view s, uint8_t type) {
  if (type == 5) {
    std::string text(s);
    char* end = nullptr;
    const float f = std::strtof(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size()) return std::nullopt;
    uint32_t raw;
    std::memcpy(&raw, &f, 4);
    return raw;
  }
  bool neg = !s.empty() && s[0] == '-';
  if (neg) s.remove_prefix(1);
  auto v = Number(s, 0xFFFFFFFFu);
  if (!v) return std::nullopt;
  uint32_t raw = static_cast<uint32_t>(neg ? (0 - *v) : *v);
  if (type == 1) raw = raw ? 1 : 0;
  return raw;
}

std::string ValueText(uint32_t raw, uint8_t type) {
  char buf[48];
  switch (type) {
    case 3: std::snprintf(buf, sizeof buf, "%d", static_cast<int16_t>(raw)); break;
    case 4: std::snprintf(buf, sizeof buf, "%d", static_cast<int32_t>(raw)); break;
    case 5: {
      float f;
      std::memcpy(&f, &raw, 4);
      std::snprintf(buf, sizeof buf, "%g", static_cast<double>(f));
      break;
    }
    default: std::snprintf(buf, sizeof buf, "%u", raw); break;
  }
  return buf;
}

std::string ClockText(const TQnetClock& c) {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u (%s)", c.FYear, c.FMonth, c.FDay,
                c.FHour, c.FMinute, c.FSecond, c.FDayOfWeek < 7 ? kDays[c.FDayOfWeek] : "?");
  return buf;
}

}  // namespace

std::optional<TSimFault> SimFaultFromName(std::string_view Name) {
  for (size_t i = 0; i < std::size(kFaultNames); ++i)
    if (Name == kFaultNames[i]) return static_cast<TSimFault>(i);
  return std::nullopt;
}

std::string_view SimFaultName(TSimFault Fault) { return kFaultNames[static_cast<size_t>(Fault)]; }

std::optional<uint8_t> SimTypeFromName(std::string_view Name) {
  for (uint8_t i = 1; i < std::size(kTypeNames); ++i)
    if (Name == kTypeNames[i]) return i;
  return std::nullopt;
}

std::string_view SimTypeName(uint8_t Type) { return Type < std::size(kTypeNames) ? kTypeNames[Type] : ""; }

bool TSimPlc::Store(uint16_t Address, uint8_t Type, uint32_t Raw) {
  const size_t size = QnetWireSize(Type);
  if (size == 0 || Address + size > FMemory.size()) return false;
  for (size_t i = 0; i < size; ++i) FMemory[Address + i] = static_cast<uint8_t>(Raw >> (8 * i));
  return true;
}

std::optional<uint32_t> TSimPlc::Load(uint16_t Address, uint8_t Type) const {
  const size_t size = QnetWireSize(Type);
  if (size == 0 || Address + size > FMemory.size()) return std::nullopt;
  return DecodeValue({FMemory.data() + Address, size}, Type);
}

TSimulator::TSimulator() = default;

TSimPlc& TSimulator::AddPlc(uint32_t NAD) {
  TSimPlc& plc = FPlcs[NAD];
  plc.FNAD = NAD;
  return plc;
}

TSimPlc* TSimulator::FindPlc(uint32_t NAD) {
  auto it = FPlcs.find(NAD);
  return it == FPlcs.end() ? nullptr : &it->second;
}

void TSimulator::AddVariable(uint32_t NAD, const TSimVar& Var) {
  for (auto& [nad, plc] : FPlcs) {
    if (NAD == 0 || nad == NAD) plc.FVars.push_back(Var);
  }
}

void TSimulator::Receive(std::span<const uint8_t> Bytes, uint32_t Tick, const TSimEndpoint& From) {
  FRxTick = Tick;
  FRxFrom = From;
  // A datagram is a whole event; frames split across datagrams still join.
  if (!AppendReceived(FRx, FStamp, Bytes, Tick, FTransport, *this)) return;
  // Drain in bounded rounds: the frame layer takes four frames per call.
  for (int round = 0; round < 64 && FRx.FCount >= kQnetMinFrameSize; ++round) {
    if (ExtractFrames(FRx, FTransport, *this) == 0) break;
  }
}

void TSimulator::QnetFrameError(TQnetFrameError, uint32_t) { ++FStats.FFrameErrors; }

void TSimulator::QnetFrameReceived(const TQnetFrame& Frame) { HandleFrame(Frame, FRxTick, FRxFrom); }

void TSimulator::HandleFrame(const TQnetFrame& Frame, uint32_t Tick, const TSimEndpoint& From) {
  ++FStats.FFramesIn;
  if (!Frame.HasBody()) {
    ++FStats.FIgnored;
    return;
  }
  // The permission coming back to our master ends the station's turn.
  if (Frame.FMsgDir == kMsgDirAnswer && Frame.FMsgTyp == kMsgTypSocket && Frame.FLength == 2) {
    if (FMaster.FEnabled && FMasterWaiting && Frame.FReceiverNAD == FMaster.FMasterNAD &&
        Frame.FSenderNAD == FMaster.FStations[FMasterIndex]) {
      ++FStats.FPermissionsReturned;
      EndMasterTurn(Tick);
    } else {
      ++FStats.FIgnored;
    }
    return;
  }
  if (Frame.FMsgDir != kMsgDirRequest || Frame.FMsgTyp != 0 || Frame.FDataLength < 1) {
    ++FStats.FIgnored;
    return;
  }
  TSimPlc* plc = FindPlc(Frame.FReceiverNAD);
  if (!plc) {
    ++FStats.FIgnored;  // no such station on this line
    return;
  }
  AnswerRequest(*plc, Frame, Tick, From);
}

void TSimulator::AnswerRequest(TSimPlc& Plc, const TQnetFrame& Frame, uint32_t Tick, const TSimEndpoint& From) {
  TQnetRequest req;
  const TQnetParse parsed = ParseRequest(Frame, req);
  if (parsed == TQnetParse::Ok && req.FCommand == kCmdPermission) {
    // A simulated PLC has nothing of its own to ask: it hands the permission back.
    if (Plc.FFault == TSimFault::Silence) return;
    EncodePermissionReturn(FTx, Plc.FNAD, Frame.FSenderNAD, 0);
    Emit(Tick + Plc.FDelayMs, From);
    return;
  }
  if (parsed != TQnetParse::Ok) {
    Answer(Plc, Frame, kMsgDirNak, {}, Tick, From);
    return;
  }
  if (Plc.FPassword != 0 &&
      (req.FTrailerLength != 2 || QnetWord(req.FTrailer) != Plc.FPassword)) {
    Answer(Plc, Frame, kMsgDirNak, {}, Tick, From);
    return;
  }
  // The largest answer body that still fits one frame.
  constexpr size_t kMaxData = kQnetLengthLimit - 1 - 2;
  uint8_t data[kQnetLengthLimit];
  size_t n = 0;
  bool ok = true;
  switch (req.FCommand) {
    case kCmdReadStatus:
      data[n++] = Plc.FSystemStatus;
      data[n++] = Plc.FProgramStatus;
      break;
    case kCmdReadBlock:
      ok = req.FCount <= kMaxData && size_t{req.FStart} + req.FCount <= Plc.FMemory.size();
      if (ok) {
        std::memcpy(data, Plc.FMemory.data() + req.FStart, req.FCount);
        n = req.FCount;
      }
      break;
    case kCmdReadList:
      ok = req.ListValueBytes() <= kMaxData;
      for (size_t i = 0; ok && i < req.ListCount(); ++i) {
        const size_t a = req.ListAddress(i), size = req.ListSize(i);
        ok = a + size <= Plc.FMemory.size();
        if (ok) std::memcpy(data + n, Plc.FMemory.data() + a, size);
        n += size;
      }
      break;
    case kCmdWriteBlock:
      ok = size_t{req.FStart} + req.FCount <= Plc.FMemory.size();
      if (ok) std::memcpy(Plc.FMemory.data() + req.FStart, req.FValues, req.FCount);
      break;
    case kCmdWriteList: {
      for (size_t i = 0; ok && i < req.ListCount(); ++i)
        ok = size_t{req.ListAddress(i)} + req.ListSize(i) <= Plc.FMemory.size();
      size_t off = 0;
      for (size_t i = 0; ok && i < req.ListCount(); ++i) {
        std::memcpy(Plc.FMemory.data() + req.ListAddress(i), req.FValues + off, req.ListSize(i));
        off += req.ListSize(i);
      }
      break;
    }
    case kCmdSetClock: {
      const uint8_t* b = req.FClockBytes;
      TQnetClock c;
      c.FYear = static_cast<uint16_t>(b[0] < 48 ? 2000 + b[0] : 1952 + b[0]);
      c.FMonth = b[1];
      c.FDay = b[2];
      c.FDayOfWeek = b[3];
      c.FHour = b[4];
      c.FMinute = b[5];
      c.FSecond = b[6];
      Plc.FClock = c;
      Event("clock " + std::to_string(Plc.FNAD) + " set to " + ClockText(c));
      break;
    }
    default:
      ok = false;
  }
  Answer(Plc, Frame, ok ? kMsgDirAnswer : kMsgDirNak, {data, ok ? n : 0}, Tick, From);
}

void TSimulator::Answer(TSimPlc& Plc, const TQnetFrame& Request, uint8_t MsgDir, std::span<const uint8_t> Data,
                        uint32_t Tick, const TSimEndpoint& To) {
  const uint32_t due = Tick + Plc.FDelayMs;
  switch (Plc.FFault) {
    case TSimFault::Silence:
      return;
    case TSimFault::Garbage:
      FOut.push_back({std::vector<uint8_t>(std::begin(kNoise), std::end(kNoise)), due, To});
      return;
    case TSimFault::Nak:
      MsgDir = kMsgDirNak;
      Data = {};
      break;
    case TSimFault::Short:
      if (!Data.empty()) Data = Data.first(Data.size() - 1);
      break;
    default:
      break;
  }
  EncodeAnswer(FTx, Plc.FNAD, Request.FSenderNAD, MsgDir, kMsgTypAnswer, Data);
  if (Plc.FFault == TSimFault::BadCrc) FTx.FTxBuffer[FTx.FTxLength - 1] ^= 0xFF;
  if (MsgDir == kMsgDirNak) ++FStats.FNaks; else ++FStats.FAnswers;
  Emit(due, To);
  // An answer to the station holding our permission ends its turn.
  if (FMaster.FEnabled && FMasterWaiting && Request.FSenderNAD == FMaster.FStations[FMasterIndex])
    EndMasterTurn(Tick);
}

void TSimulator::Emit(uint32_t Due, const TSimEndpoint& To) {
  FOut.push_back({std::vector<uint8_t>(FTx.Bytes().begin(), FTx.Bytes().end()), Due, To});
}

void TSimulator::Tick(uint32_t Tick) {
  if (!FChangeStarted) {
    FChangeStarted = true;
    FNextChange = Tick + FChangePeriodMs;
  } else if (FChangePeriodMs > 0 && Due(Tick, FNextChange)) {
    ChangeValues();
    FNextChange = Tick + FChangePeriodMs;
  }
  for (SocketState& s : FSockets) {
    if (!s.FStarted) {
      s.FStarted = true;
      s.FNextTick = Tick + s.FSocket.FPeriodMs;
      continue;
    }
    if (!Due(Tick, s.FNextTick)) continue;
    s.FNextTick = Tick + s.FSocket.FPeriodMs;
    const TSimPlc* plc = FindPlc(s.FSocket.FSender);
    if (!plc) continue;
    uint8_t data[kQnetLengthLimit];
    const size_t len = SocketData(*plc, s.FSocket, data);
    // Two bytes of body would read as a returned permission, not socket data.
    if (len == 0) continue;
    EncodeAnswer(FTx, s.FSocket.FSender, s.FSocket.FReceiver, kMsgDirAnswer, kMsgTypSocket, {data, len});
    Emit(Tick, TSimEndpoint{});
    ++FStats.FSocketFrames;
  }
  MasterStep(Tick);
}

size_t TSimulator::SocketData(const TSimPlc& Plc, const TSimSocket& Socket, uint8_t* Out) const {
  // The largest body a socket frame can carry.
  constexpr size_t kMaxData = kQnetLengthLimit - 3u;
  if (Socket.FVars.empty()) {
    const size_t len = std::min<size_t>({Socket.FLength, Plc.FMemory.size() - Socket.FAddress, kMaxData});
    std::memcpy(Out, Plc.FMemory.data() + Socket.FAddress, len);
    return len;
  }
  size_t n = 0;
  for (const TSimVar& v : Socket.FVars) {
    const size_t size = QnetWireSize(v.FType);
    if (n + size > kMaxData) break;
    const uint32_t raw = Plc.Load(v.FAddress, v.FType).value_or(0);
    for (size_t i = 0; i < size; ++i) Out[n++] = static_cast<uint8_t>(raw >> (8 * i));
  }
  return n;
}

void TSimulator::ChangeValues() {
  ++FChangeStep;
  for (auto& [nad, plc] : FPlcs) {
    for (const TSimVar& v : plc.FVars) {
      if (v.FChange == TSimChange::None) continue;
      const uint32_t old = plc.Load(v.FAddress, v.FType).value_or(0);
      uint32_t raw = old;
      if (v.FType == 5) {
        float f;
        std::memcpy(&f, &old, 4);
        f = v.FChange == TSimChange::Counter ? f + 1.0f : (f >= 100.0f || !(f >= 0.0f) ? 0.0f : f + 2.5f);
        std::memcpy(&raw, &f, 4);
      } else if (v.FType == 1) {
        raw = old ? 0 : 1;
      } else if (v.FChange == TSimChange::Counter) {
        raw = old + 1;
      } else {
        // A sawtooth from 0 to 100, so clients see a bounded ramp.
        const int32_t s = v.FType == 3 ? static_cast<int16_t>(old) : static_cast<int32_t>(old);
        raw = (s >= 100 || s < 0) ? 0u : static_cast<uint32_t>(s + 1);
      }
      plc.Store(v.FAddress, v.FType, raw);
    }
  }
}

void TSimulator::MasterStep(uint32_t Tick) {
  if (!FMaster.FEnabled || FMaster.FStations.empty()) return;
  if (!FMasterStarted) {
    FMasterStarted = true;
    FMasterNextGrant = Tick;
  }
  if (FMasterWaiting) {
    if (!Due(Tick, FMasterDeadline)) return;
    ++FStats.FMasterTimeouts;
    Event("master: no return from NAD " + std::to_string(FMaster.FStations[FMasterIndex]));
    EndMasterTurn(Tick);
  }
  if (!Due(Tick, FMasterNextGrant)) return;
  const uint32_t station = FMaster.FStations[FMasterIndex];
  EncodePermission(FTx, FMaster.FMasterNAD, station);
  Emit(Tick, TSimEndpoint{});
  ++FStats.FPermissionsSent;
  FMasterWaiting = true;
  FMasterDeadline = Tick + FMaster.FTimeoutMs;
  // Our own stations never hear our output; they answer on the line at once.
  if (const TSimPlc* own = FindPlc(station); own && own->FFault != TSimFault::Silence) {
    EncodePermissionReturn(FTx, station, FMaster.FMasterNAD, 0);
    Emit(Tick + own->FDelayMs, TSimEndpoint{});
    ++FStats.FPermissionsReturned;
    EndMasterTurn(Tick + own->FDelayMs);
  }
}

void TSimulator::EndMasterTurn(uint32_t Tick) {
  FMasterWaiting = false;
  FMasterIndex = (FMasterIndex + 1) % FMaster.FStations.size();
  FMasterNextGrant = Tick + FMaster.FGapMs;
}

std::vector<TSimOutput> TSimulator::TakeDue(uint32_t Tick) {
  std::vector<TSimOutput> due;
  // Stable: outputs due at the same tick keep their order of creation.
  auto it = std::stable_partition(FOut.begin(), FOut.end(), [&](const TSimOutput& o) { return Due(Tick, o.FDueTick); });
  std::move(FOut.begin(), it, std::back_inserter(due));
  FOut.erase(FOut.begin(), it);
  std::stable_sort(due.begin(), due.end(), [&](const TSimOutput& a, const TSimOutput& b) {
    return static_cast<int32_t>(a.FDueTick - b.FDueTick) < 0;
  });
  return due;
}

uint32_t TSimulator::MsUntilNextWork(uint32_t Tick, uint32_t Cap) const {
  uint32_t best = Cap;
  auto consider = [&](uint32_t at) {
    const int32_t d = static_cast<int32_t>(at - Tick);
    best = std::min<uint32_t>(best, d <= 0 ? 0u : static_cast<uint32_t>(d));
  };
  for (const TSimOutput& o : FOut) consider(o.FDueTick);
  if (FChangeStarted && FChangePeriodMs > 0) consider(FNextChange);
  for (const SocketState& s : FSockets) if (s.FStarted) consider(s.FNextTick);
  if (FMaster.FEnabled && FMasterStarted) consider(FMasterWaiting ? FMasterDeadline : FMasterNextGrant);
  return best;
}

std::vector<std::string> TSimulator::TakeEvents() {
  std::vector<std::string> out;
  out.swap(FEvents);
  return out;
}

std::string TSimulator::Control(std::string_view Line, bool& Quit) {
  const auto w = Words(Line);
  if (w.empty()) return "error: empty command";
  const std::string_view cmd = w[0];
  if (cmd == "quit" || cmd == "exit") {
    Quit = true;
    return "ok";
  }
  if (cmd == "help") {
    return "commands: fault NAD none|silence|nak|short|badcrc|garbage; delay NAD MS; "
           "password NAD VALUE; set NAD ADDR TYPE VALUE; get NAD ADDR TYPE; status NAD SYSTEM PROGRAM; clock NAD; "
           "stats; quit";
  }
  if (cmd == "stats") {
    std::ostringstream o;
    o << "frames " << FStats.FFramesIn << " errors " << FStats.FFrameErrors << " answers " << FStats.FAnswers
      << " naks " << FStats.FNaks << " ignored " << FStats.FIgnored << " permissions " << FStats.FPermissionsSent
      << " returned " << FStats.FPermissionsReturned << " timeouts " << FStats.FMasterTimeouts << " sockets "
      << FStats.FSocketFrames;
    return o.str();
  }
  struct Arity {
    std::string_view name;
    size_t words;
  };
  static constexpr Arity kArities[] = {{"fault", 3}, {"delay", 3}, {"password", 3}, {"set", 5}, {"get", 4}, {"status", 4}, {"clock", 2}};
  const Arity* arity = nullptr;
  for (const Arity& s : kArities)
    if (s.name == cmd) arity = &s;
  if (!arity) return "error: unknown command '" + std::string(cmd) + "'";
  if (w.size() != arity->words) return "error: " + std::string(cmd) + " takes " + std::to_string(arity->words - 1) + " arguments";
  const auto nad = Number(w[1], 0xFFFFFFFFu);
  TSimPlc* plc = nad ? FindPlc(static_cast<uint32_t>(*nad)) : nullptr;
  if (!plc) return "error: no PLC with NAD " + std::string(w[1]);

  if (cmd == "fault") {
    const auto f = SimFaultFromName(w[2]);
    if (!f) return "error: unknown fault '" + std::string(w[2]) + "'";
    plc->FFault = *f;
    return "ok";
  }
  if (cmd == "delay") {
    const auto ms = Number(w[2], 600000);
    if (!ms) return "error: delay must be 0..600000 ms";
    plc->FDelayMs = static_cast<uint32_t>(*ms);
    return "ok";
  }
  if (cmd == "password") {
    const auto pw = Number(w[2], 0xFFFF);
    if (!pw) return "error: password must be 0..65535";
    plc->FPassword = static_cast<uint16_t>(*pw);
    return "ok";
  }
  if (cmd == "status") {
    const auto sys = Number(w[2], 255), prog = Number(w[3], 255);
    if (!sys || !prog) return "error: status bytes must be 0..255";
    plc->FSystemStatus = static_cast<uint8_t>(*sys);
    plc->FProgramStatus = static_cast<uint8_t>(*prog);
    return "ok";
  }
  if (cmd == "clock") return plc->FClock ? ClockText(*plc->FClock) : "not set";
  const auto addr = Number(w[2], 0xFFFF);
  if (!addr) return "error: address must be 0..0xFFFF";
  const auto type = SimTypeFromName(w[3]);
  if (!type) return "error: type must be bit, word, int, long or real";
  if (cmd == "get") {
    const auto v = plc->Load(static_cast<uint16_t>(*addr), *type);
    return v ? ValueText(*v, *type) : "error: beyond the memory";
  }
  const auto raw = ParseValue(w[4], *type);
  if (!raw) return "error: bad value '" + std::string(w[4]) + "'";
  if (!plc->Store(static_cast<uint16_t>(*addr), *type, *raw)) return "error: beyond the memory";
  return "ok";
}
