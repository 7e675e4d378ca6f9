#include "sim_project.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <set>
#include <utility>

#include "comm/qnet_frame.h"
#include "model/load_project.h"

namespace {

constexpr size_t kMemorySize = 65536;
// The body of a socket frame: a length field of 1200 or more is refused.
constexpr size_t kMaxSocketData = kQnetLengthLimit - 3u;

bool Fits(const TLoadedVar& v) {
  const size_t size = QnetWireSize(v.FVarType);
  return size > 0 && v.FAddress >= 0 && static_cast<size_t>(v.FAddress) + size <= kMemorySize;
}

// Each type moves the way a client can see at a glance: bits toggle,
// integers count up, reals run a sawtooth from 0 to 100.
TSimChange ChangeOf(uint8_t Type) { return Type == 5 ? TSimChange::Ramp : TSimChange::Counter; }

// Start values differ between variables and between PLCs running the same
// program, so neighbouring array elements and twin PLCs are told apart.
uint32_t InitialValue(uint8_t Type, uint32_t NAD, size_t Ordinal) {
  switch (Type) {
    case 1:
      return static_cast<uint32_t>((Ordinal + NAD) & 1u);
    case 5: {
      const float f = static_cast<float>(std::fmod(static_cast<double>(Ordinal) * 2.5 + NAD, 100.0));
      uint32_t raw;
      std::memcpy(&raw, &f, 4);
      return raw;
    }
    default:
      return static_cast<uint32_t>(NAD * 100u + Ordinal);
  }
}

std::string NadList(const std::vector<uint32_t>& NADs) {
  std::string s;
  for (uint32_t n : NADs) s += (s.empty() ? "" : ", ") + std::to_string(n);
  return s;
}

}  // namespace

std::string TSimProjectReport::Summary(const std::string& FileName) const {
  return "project " + FileName + ": PLCs " + NadList(FNADs) + "; " + std::to_string(FVariables) +
         " variables; " + std::to_string(FSockets) + " socket frames";
}

bool LayoutSimProject(const TLoadProject& Project, const std::vector<uint32_t>& OnlyNADs,
                      uint32_t SocketPeriodMs, TSimulator& Sim, TSimProjectReport& Report,
                      std::string& Error) {
  Report = {};
  auto wanted = [&](uint32_t nad) {
    return OnlyNADs.empty() || std::find(OnlyNADs.begin(), OnlyNADs.end(), nad) != OnlyNADs.end();
  };
  std::set<uint32_t> named;
  for (const auto& p : Project.FPrograms)
    for (int n : p->FNADs) named.insert(static_cast<uint32_t>(n));
  for (uint32_t n : OnlyNADs) {
    if (!named.count(n)) {
      Error = "--nad " + std::to_string(n) + " is not a PLC of the project";
      return false;
    }
  }

  // Per PLC: how many variables it has so far, and which (address, type)
  // pairs, so an alias in the file does not move one value twice per step.
  std::map<uint32_t, size_t> ordinals;
  std::map<uint32_t, std::set<std::pair<int, uint8_t>>> seen;
  for (const auto& program : Project.FPrograms) {
    for (int n : program->FNADs) {
      const uint32_t nad = static_cast<uint32_t>(n);
      if (!wanted(nad)) continue;
      if (Sim.FindPlc(nad)) {
        Report.FWarnings.push_back("NAD " + std::to_string(nad) +
                                   " runs several programs; they share one memory");
      } else {
        Report.FNADs.push_back(nad);
      }
      TSimPlc& plc = Sim.AddPlc(nad);
      size_t& ordinal = ordinals[nad];
      size_t outside = 0;
      for (const auto& v : program->FVars) {
        if (v->FIsArrayHead) continue;  // the elements carry the memory
        if (!Fits(*v)) {
          ++outside;
          continue;
        }
        if (!seen[nad].insert({v->FAddress, v->FVarType}).second) continue;
        TSimVar var{static_cast<uint16_t>(v->FAddress), v->FVarType, ChangeOf(v->FVarType), v->FName};
        Sim.AddVariable(nad, var);
        plc.Store(var.FAddress, var.FType, InitialValue(var.FType, nad, ordinal++));
        ++Report.FVariables;
      }
      if (outside > 0)
        Report.FWarnings.push_back("NAD " + std::to_string(nad) + ": " + std::to_string(outside) +
                                   " variables lie beyond the 64 KiB memory and are not simulated");
      if (SocketPeriodMs == 0) continue;

      for (size_t s = 0; s < program->FSockets.size(); ++s) {
        const TLoadedSocket& socket = program->FSockets[s];
        if (socket.FIsInput) continue;
        const std::string what = "NAD " + std::to_string(nad) + " socket " + std::to_string(s) + " to NAD " +
                                 std::to_string(socket.FNAD);
        TSimSocket out;
        out.FSender = nad;
        out.FReceiver = static_cast<uint32_t>(socket.FNAD);
        out.FPeriodMs = SocketPeriodMs;
        size_t bytes = 0;
        bool ok = true;
        for (const TLoadedVar* v : socket.FVars) {
          if (!Fits(*v)) {
            Report.FWarnings.push_back(what + ": " + v->FName + " lies beyond the memory; socket not sent");
            ok = false;
            break;
          }
          out.FVars.push_back(TSimVar{static_cast<uint16_t>(v->FAddress), v->FVarType, TSimChange::None, v->FName});
          bytes += QnetWireSize(v->FVarType);
        }
        if (!ok) continue;
        if (out.FVars.empty()) {
          Report.FWarnings.push_back(what + ": no variables; socket not sent");
          continue;
        }
        if (bytes > kMaxSocketData) {
          Report.FWarnings.push_back(what + ": " + std::to_string(bytes) + " bytes do not fit a frame; socket not sent");
          continue;
        }
        // On the wire: all 1-byte values, then 2-byte, then 4-byte; equal
        // sizes keep the project file's order.
        std::stable_sort(out.FVars.begin(), out.FVars.end(), [](const TSimVar& a, const TSimVar& b) {
          return QnetWireSize(a.FType) < QnetWireSize(b.FType);
        });
        Sim.AddSocket(out);
        ++Report.FSockets;
      }
    }
  }
  if (Report.FNADs.empty()) {
    Error = OnlyNADs.empty() ? "the project names no PLC (no NAD on its ;cpu lines)" : "no PLC left to simulate";
    return false;
  }
  return true;
}

bool LoadSimProject(const std::string& FileName, const std::vector<uint32_t>& OnlyNADs,
                    uint32_t SocketPeriodMs, TSimulator& Sim, TSimProjectReport& Report,
                    std::string& Error) {
  TLoadProject reader;
  try {
    reader.LoadAllocationFile(FileName);
  } catch (const ELoadProjectError& e) {
    Error = e.what();
    return false;
  }
  return LayoutSimProject(reader, OnlyNADs, SocketPeriodMs, Sim, Report, Error);
}
