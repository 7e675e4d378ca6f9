#include "sim_options.h"

#include <charconv>

#include "sim_io.h"
#include "sim_project.h"

namespace {

std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> out;
  size_t start = 0;
  while (true) {
    const size_t p = s.find(sep, start);
    out.push_back(s.substr(start, p == std::string::npos ? std::string::npos : p - start));
    if (p == std::string::npos) break;
    start = p + 1;
  }
  return out;
}

bool Num(const std::string& text, uint64_t max, uint64_t& out) {
  std::string_view s = text;
  int base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    s.remove_prefix(2);
    base = 16;
  }
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out, base);
  return !s.empty() && ec == std::errc() && p == s.data() + s.size() && out <= max;
}

template <class T>
bool Num(const std::string& text, uint64_t max, T& out) {
  uint64_t v = 0;
  if (!Num(text, max, v)) return false;
  out = static_cast<T>(v);
  return true;
}

bool HostPort(const std::string& s, TSimHostPort& hp) {
  const size_t colon = s.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  hp.FHost = s.substr(0, colon);
  hp.FSet = true;
  return Num(s.substr(colon + 1), 65535, hp.FPort);
}

// "[NAD@]REST": the NAD prefix, 0 when absent.
bool NadPrefix(std::string& s, uint32_t& nad) {
  nad = 0;
  const size_t at = s.find('@');
  if (at == std::string::npos) return true;
  if (!Num(s.substr(0, at), 0xFFFFFFFFu, nad)) return false;
  s.erase(0, at + 1);
  return true;
}

bool ParseVar(std::string s, TSimOptions& o) {
  uint32_t nad;
  if (!NadPrefix(s, nad)) return false;
  const auto parts = Split(s, ':');
  if (parts.size() < 2 || parts.size() > 4) return false;
  const auto range = Split(parts[0], '-');
  uint16_t first = 0, last = 0;
  if (range.size() > 2 || !Num(range[0], 0xFFFF, first)) return false;
  last = first;
  if (range.size() == 2 && (!Num(range[1], 0xFFFF, last) || last < first)) return false;
  const auto type = SimTypeFromName(parts[1]);
  if (!type) return false;
  TSimVar v;
  v.FType = *type;
  if (parts.size() >= 3) {
    if (parts[2] == "counter") v.FChange = TSimChange::Counter;
    else if (parts[2] == "ramp") v.FChange = TSimChange::Ramp;
    else if (parts[2] != "fixed") return false;
  }
  if (parts.size() == 4) v.FName = parts[3];
  const size_t size = QnetWireSize(*type);
  // A range holds consecutive variables of the type.
  for (size_t a = first; a + size <= size_t{last} + size && a + size <= 65536; a += size) {
    v.FAddress = static_cast<uint16_t>(a);
    o.FVars.emplace_back(nad, v);
    if (o.FVars.size() > 65536) return false;
  }
  return true;
}

}  // namespace

const char* SimHelpText() {
  return R"(plcsim: a Q-net PLC simulator for commissioning and demos.

Usage: plcsim [options]

Transport (UDP unless a serial option is given):
  --udp HOST:PORT        bind UDP to HOST:PORT (default 127.0.0.1:8442; port 0
                         picks a free port). HOST must be a specific IPv4
                         address. The bound port is printed as
                         "plcsim: udp HOST:PORT".
  --broadcast ADDR       also hear requests sent to the loopback broadcast
                         address ADDR (e.g. 127.255.255.255) on the --udp
                         port, as a server detecting its PLCs' addresses
                         sends them; answers still leave from the --udp
                         address. Only with a loopback --udp address, and
                         only a broadcast address of a loopback network
                         holding it.
  --peer HOST:PORT       where frames nobody asked for go (socket data,
                         permissions); default: the last sender answered.
  --allow HOST           also answer senders at HOST (repeatable). Bound to a
                         loopback address, loopback senders are answered;
                         otherwise only --peer and --allow hosts are.
  --serial DEVICE        use a serial device (raw, 8N1).
  --pty                  create a pseudo-terminal and print its name as
                         "plcsim: pty /dev/pts/N".
  --baud N               serial speed, also the pacing of sent bytes
                         (default 19200).

Stations:
  --nad N[,N...]         simulated PLCs (repeatable; default 1; with
                         --project: which of the project's PLCs).
  --var [NAD@]ADDR[-END]:TYPE[:counter|ramp|fixed][:NAME]
                         a variable, or a range of consecutive ones; TYPE is
                         bit, word, int, long or real. counter counts up,
                         ramp runs 0..100 (bits toggle). Without NAD@: every PLC.
  --set [NAD@]ADDR:TYPE:VALUE
                         an initial value (decimal, 0x hex, or a float).
  --status NAD:SYSTEM:PROGRAM
                         status bytes (default 1:2, kernel and run).
  --fault NAD:FAULT      none, silence, nak, short, badcrc or garbage.
  --delay NAD:MS         answer MS milliseconds late.
  --password NAD:VALUE   requests to NAD must end with this 16-bit password;
                         others are refused with a negative acknowledge.
  --change-period MS     how often counters and ramps move (default 1000;
                         0 = never).

Project:
  --project FILE.alc     lay the PLCs out from a Zelta allocation file: every
                         NAD of every program becomes a simulated PLC (only
                         those named by --nad, when given), every variable
                         sits at its address with its type and a start
                         value, and moves every change period (integers
                         count, reals ramp, bits toggle; arrays element by
                         element). The project file (.cyp) beside it gives
                         the sockets: each output socket of a simulated PLC
                         sends its variables to its partner NAD (0 = all).
                         --var, --set and the other options still apply.
  --socket-period MS     how often the project's sockets are sent (default
                         1000; 0 = never).

Network:
  --socket SRC:DST:ADDR:LEN:PERIOD
                         PLC SRC sends LEN bytes of its memory from ADDR to
                         DST (0 = all) every PERIOD ms.
  --master NAD:STATION[,STATION...]
                         act as network master NAD and grant the permission
                         to send (command 0x44) to the stations in turn.
  --master-timeout MS    wait this long for a station (default 1000).
  --master-gap MS        pause between grants (default 20).

Run:
  --duration MS          exit after MS milliseconds (default: until quit).
  --verbose              print every frame received and sent on stderr.
  --help                 this text.

Control lines on stdin, one reply line each on stdout:
  fault NAD none|silence|nak|short|badcrc|garbage
  delay NAD MS
  set NAD ADDR TYPE VALUE        e.g. set 1 0x40 int 123
  get NAD ADDR TYPE
  status NAD SYSTEM PROGRAM      e.g. status 1 1 3
  password NAD VALUE             0 = none
  clock NAD                      the clock last set by a client
  stats
  quit

Examples:
  plcsim --nad 1,2 --var 0x40:int:counter --var 0x100-0x10F:word:ramp
  plcsim --udp 127.0.0.1:0 --nad 7 --fault 7:nak
  plcsim --project examples/demo/demo.alc --udp 127.0.0.1:8442 \
         --broadcast 127.255.255.255
  plcsim --pty --nad 1,2,3 --master 1:2,3,100 --socket 2:0:0x200:8:500
  plcsim --project examples/demo/demo.alc --udp 127.0.0.1:8442
  plcsim --project plant.alc --nad 2,3 --socket-period 250
)";
}

bool ParseSimOptions(int argc, const char* const* argv, TSimOptions& o, std::string& Error) {
  for (int i = 1; i < argc; ++i) {
    const std::string opt = argv[i];
    auto bad = [&](const std::string& why) {
      Error = opt + ": " + why;
      return false;
    };
    const bool flag = opt == "--pty" || opt == "--verbose" || opt == "--help" || opt == "-h";
    if (!flag && i + 1 >= argc) return bad("missing value");
    const std::string val = flag ? std::string() : argv[++i];
    if (opt == "--help" || opt == "-h") {
      o.FHelp = true;
    } else if (opt == "--pty") {
      o.FPty = true;
    } else if (opt == "--verbose") {
      o.FVerbose = true;
    } else if (opt == "--udp") {
      if (!HostPort(val, o.FUdp)) return bad("expected HOST:PORT");
    } else if (opt == "--broadcast") {
      uint32_t ip = 0;
      if (!SimParseIPv4(val, ip) || (ip >> 24) != 127) return bad("expected a loopback broadcast address (127.x.x.x)");
      o.FBroadcast = val;
    } else if (opt == "--peer") {
      if (!HostPort(val, o.FPeer)) return bad("expected HOST:PORT");
    } else if (opt == "--allow") {
      o.FAllow.push_back(val);
    } else if (opt == "--serial") {
      o.FSerial = val;
    } else if (opt == "--baud") {
      if (!Num(val, 4000000, o.FBaud) || o.FBaud < 50) return bad("expected a speed of 50..4000000");
    } else if (opt == "--nad") {
      for (const auto& n : Split(val, ',')) {
        uint32_t nad;
        if (!Num(n, 0xFFFFFFFFu, nad) || nad == 0) return bad("expected NADs above 0");
        o.FNADs.push_back(nad);
      }
    } else if (opt == "--var") {
      if (!ParseVar(val, o)) return bad("expected [NAD@]ADDR[-END]:TYPE[:counter|ramp|fixed][:NAME]");
    } else if (opt == "--set") {
      std::string s = val;
      TSimOptions::InitialValue iv{};
      if (!NadPrefix(s, iv.FNAD)) return bad("bad NAD");
      const auto p = Split(s, ':');
      const auto type = p.size() == 3 ? SimTypeFromName(p[1]) : std::nullopt;
      if (!type || !Num(p[0], 0xFFFF, iv.FAddress)) return bad("expected [NAD@]ADDR:TYPE:VALUE");
      iv.FType = *type;
      iv.FValue = p[2];
      o.FSets.push_back(iv);
    } else if (opt == "--status" || opt == "--fault" || opt == "--delay") {
      auto p = Split(val, ':');
      if (p.size() != (opt == "--status" ? 3u : 2u)) return bad("wrong number of fields");
      std::string line = opt.substr(2);
      for (const auto& f : p) line += " " + f;
      o.FControls.push_back(line);
    } else if (opt == "--password") {
      const auto p = Split(val, ':');
      uint32_t nad;
      uint16_t pw;
      if (p.size() != 2 || !Num(p[0], 0xFFFFFFFFu, nad) || !Num(p[1], 0xFFFF, pw)) return bad("expected NAD:VALUE");
      o.FControls.push_back("password " + p[0] + " " + p[1]);
    } else if (opt == "--socket") {
      const auto p = Split(val, ':');
      TSimSocket s;
      if (p.size() != 5 || !Num(p[0], 0xFFFFFFFFu, s.FSender) || !Num(p[1], 0xFFFFFFFFu, s.FReceiver) ||
          !Num(p[2], 0xFFFF, s.FAddress) || !Num(p[3], 1197, s.FLength) || !Num(p[4], 3600000, s.FPeriodMs) ||
          s.FPeriodMs < 10 || s.FLength == 0)
        return bad("expected SRC:DST:ADDR:LEN(1..1197):PERIOD(10.. ms)");
      o.FSockets.push_back(s);
    } else if (opt == "--master") {
      const auto p = Split(val, ':');
      if (p.size() != 2 || !Num(p[0], 0xFFFFFFFFu, o.FMaster.FMasterNAD)) return bad("expected NAD:STATION[,STATION...]");
      for (const auto& n : Split(p[1], ',')) {
        uint32_t st;
        if (!Num(n, 0xFFFFFFFFu, st)) return bad("bad station NAD '" + n + "'");
        o.FMaster.FStations.push_back(st);
      }
      o.FMaster.FEnabled = true;
    } else if (opt == "--master-timeout") {
      if (!Num(val, 600000, o.FMaster.FTimeoutMs) || o.FMaster.FTimeoutMs == 0) return bad("expected 1..600000 ms");
    } else if (opt == "--master-gap") {
      if (!Num(val, 600000, o.FMaster.FGapMs)) return bad("expected 0..600000 ms");
    } else if (opt == "--change-period") {
      if (!Num(val, 3600000, o.FChangePeriodMs)) return bad("expected 0..3600000 ms");
    } else if (opt == "--project") {
      if (val.empty()) return bad("expected an allocation file");
      o.FProject = val;
    } else if (opt == "--socket-period") {
      if (!Num(val, 3600000, o.FSocketPeriodMs) || (o.FSocketPeriodMs != 0 && o.FSocketPeriodMs < 10))
        return bad("expected 0 (never) or 10..3600000 ms");
    } else if (opt == "--duration") {
      if (!Num(val, 86400000, o.FDurationMs)) return bad("expected 0..86400000 ms");
    } else {
      Error = "unknown option " + opt + " (see --help)";
      return false;
    }
  }
  if (!o.FSerial.empty() && o.FPty) {
    Error = "--serial and --pty exclude each other";
    return false;
  }
  if (!o.FBroadcast.empty() && (!o.FSerial.empty() || o.FPty)) {
    Error = "--broadcast is for UDP only";
    return false;
  }
  // A project brings its own PLCs; there --nad only picks among them.
  if (o.FNADs.empty() && o.FProject.empty()) o.FNADs.push_back(1);
  return true;
}

bool ApplySimOptions(const TSimOptions& o, TSimulator& Sim, std::string& Error, std::vector<std::string>* Notes) {
  std::vector<uint32_t> nads = o.FNADs;
  if (!o.FProject.empty()) {
    TSimProjectReport report;
    if (!LoadSimProject(o.FProject, o.FNADs, o.FSocketPeriodMs, Sim, report, Error)) return false;
    if (Notes) {
      Notes->push_back(report.Summary(o.FProject));
      Notes->insert(Notes->end(), report.FWarnings.begin(), report.FWarnings.end());
    }
    nads = report.FNADs;
  }
  for (uint32_t nad : nads) Sim.AddPlc(nad);
  auto known = [&](uint32_t nad, const char* what) {
    if (nad == 0 || Sim.FindPlc(nad)) return true;
    Error = std::string(what) + " names NAD " + std::to_string(nad) + ", which is not simulated";
    return false;
  };
  for (const auto& [nad, var] : o.FVars) {
    if (!known(nad, "--var")) return false;
    Sim.AddVariable(nad, var);
  }
  bool quit = false;
  auto control = [&](const std::string& line) {
    const std::string reply = Sim.Control(line, quit);
    if (reply == "ok") return true;
    Error = line + ": " + reply;
    return false;
  };
  for (const auto& s : o.FSets) {
    if (!known(s.FNAD, "--set")) return false;
    for (uint32_t nad : nads) {
      if (s.FNAD != 0 && s.FNAD != nad) continue;
      if (!control("set " + std::to_string(nad) + " " + std::to_string(s.FAddress) + " " +
                   std::string(SimTypeName(s.FType)) + " " + s.FValue))
        return false;
    }
  }
  for (const auto& line : o.FControls)
    if (!control(line)) return false;
  for (const auto& s : o.FSockets) {
    if (!Sim.FindPlc(s.FSender)) {
      Error = "--socket sender " + std::to_string(s.FSender) + " is not simulated";
      return false;
    }
    Sim.AddSocket(s);
  }
  if (o.FMaster.FEnabled) {
    if (o.FMaster.FStations.empty()) {
      Error = "--master needs at least one station";
      return false;
    }
    Sim.SetMaster(o.FMaster);
  }
  Sim.SetChangePeriod(o.FChangePeriodMs);
  return true;
}
