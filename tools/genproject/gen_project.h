// Writes synthetic Zelta projects (an allocation file and its project file) of
// any size, for tests, benchmarks and demos. Header-only so that tests and
// benchmarks can generate in memory without the tool.
#pragma once

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

struct GenProjectOptions {
  int Plcs = 3;           // programs, one NAD each
  int VarsPerPlc = 100;   // variable records per program, array records included
  int FirstNAD = 1;       // program k runs on FirstNAD + k
  int SocketsPerPlc = 2;  // alternating send / receive; every third to all (NAD 0)
  int SocketVars = 4;     // variables per socket (fewer when the program is small)
  int MasterNAD = 100;    // written as [Net] MasterNAD; negative leaves it out
  int ArrayPercent = 10;  // share of lines that are arrays
  std::uint32_t Seed = 1;
  std::string Name = "generated";
};

struct GenProjectText {
  std::string Allocation;  // .alc
  std::string Project;     // .cyp
  std::size_t Records = 0; // variable records the reader should yield
};

namespace genproject_detail {

// xorshift32: the same project for the same seed on every platform.
class Rng {
 public:
  explicit Rng(std::uint32_t seed) : s_(seed == 0 ? 0x9E3779B9u : seed) {}
  std::uint32_t Next() {
    s_ ^= s_ << 13;
    s_ ^= s_ >> 17;
    s_ ^= s_ << 5;
    return s_;
  }
  int Below(int n) { return static_cast<int>(Next() % static_cast<std::uint32_t>(n)); }

 private:
  std::uint32_t s_;
};

// Lines are short; a longer one is cut, never overrun.
__attribute__((format(printf, 2, 3))) inline void AppendLine(std::string& out, const char* fmt,
                                                             ...) {
  char buf[256];
  va_list args;
  va_start(args, fmt);
  const int n = std::vsnprintf(buf, sizeof buf, fmt, args);
  va_end(args);
  out.append(buf, n <= 0 ? 0 : std::min(static_cast<std::size_t>(n), sizeof buf - 1));
  out.append("\r\n");  // the Zelta tool writes Windows line ends
}

struct TypeInfo {
  const char* word;
  int size;
};
inline constexpr TypeInfo kTypes[] = {{"bit", 1}, {"word", 2}, {"int", 2}, {"long", 4}, {"real", 4}};

}  // namespace genproject_detail

inline GenProjectText GenerateProjectText(const GenProjectOptions& o) {
  using namespace genproject_detail;
  GenProjectText t;
  Rng rng(o.Seed);
  t.Allocation.reserve(static_cast<std::size_t>(o.Plcs) * static_cast<std::size_t>(o.VarsPerPlc) * 64);
  AppendLine(t.Project, "##PROJECT_GLOBAL_BEGIN");
  AppendLine(t.Project, "[Programs]");
  AppendLine(t.Project, "Count=%d", o.Plcs);
  AppendLine(t.Project, "##PROJECT_GLOBAL_END");

  for (int p = 0; p < o.Plcs; ++p) {
    const int nad = o.FirstNAD + p;
    AppendLine(t.Allocation, ";cpu Unit%d %d", p + 1, nad);
    AppendLine(t.Allocation, ";addr seg count offset stride scope type name comment");
    std::vector<std::string> plain;  // candidates for sockets
    int address = 0x10;
    int records = 0;
    int line = 0;
    while (records < o.VarsPerPlc) {
      const int remaining = o.VarsPerPlc - records;
      const TypeInfo& type = kTypes[rng.Below(5)];
      const bool isWord = type.size == 2 && type.word[0] == 'w';
      int count = 1;
      if (remaining >= 3 && rng.Below(100) < o.ArrayPercent) {
        count = 2 + rng.Below(15);
        const int room = isWord ? remaining : remaining - 1;
        if (count > room) count = room;
      }
      ++line;
      char name[48];
      if (count == 1) {
        std::snprintf(name, sizeof name, "V%d_%s_%d", p + 1, type.word, line);
        AppendLine(t.Allocation, "%04X M 1 0 0 global %s %s %s %d of unit %d", address, type.word,
                   name, type.word, line, p + 1);
        plain.emplace_back(name);
        address += type.size;
        records += 1;
      } else {
        std::snprintf(name, sizeof name, "A%d_%s_%d", p + 1, type.word, line);
        AppendLine(t.Allocation, "%04X M %d 0 %d global %s %s array of %d %s", address, count,
                   type.size, type.word, name, count, type.word);
        address += count * type.size;
        records += count + (isWord ? 0 : 1);
      }
    }
    t.Records += static_cast<std::size_t>(records);

    AppendLine(t.Project, "##PROGRAM_BEGIN_%d", p + 1);
    AppendLine(t.Project, "#PROJECT_OPTIONS_BEGIN");
    AppendLine(t.Project, "[Program]");
    AppendLine(t.Project, "Name=Program_%d", p + 1);
    if (o.MasterNAD >= 0) {
      AppendLine(t.Project, "[Net]");
      AppendLine(t.Project, "MasterNAD=%d", o.MasterNAD);
    }
    std::size_t next = 0;
    for (int s = 0; s < o.SocketsPerPlc; ++s) {
      const bool toAll = s % 3 == 2 || o.Plcs < 2;
      int other = (p + 1 + s) % (o.Plcs > 0 ? o.Plcs : 1);
      if (other == p) other = (other + 1) % o.Plcs;
      const int partner = toAll ? 0 : o.FirstNAD + other;
      AppendLine(t.Project, "[Socket%02d]", s);
      AppendLine(t.Project, "NAD=%d", partner);
      AppendLine(t.Project, "Direction=%d", toAll ? 1 : s % 2);
      // Distinct variables within a socket, rotating through the program's.
      const std::size_t take = std::min(static_cast<std::size_t>(o.SocketVars), plain.size());
      for (std::size_t v = 0; v < take; ++v) {
        AppendLine(t.Project, "Var%02d=%s", static_cast<int>(v), plain[next % plain.size()].c_str());
        ++next;
      }
    }
    AppendLine(t.Project, "#PROJECT_OPTIONS_END");
    AppendLine(t.Project, "##PROGRAM_END_%d", p + 1);
  }
  // The reader never interprets the last line.
  AppendLine(t.Allocation, ";end");
  return t;
}

// Writes <Folder>/<Name>.alc and .cyp; returns the allocation file's path.
inline std::string WriteGeneratedProject(const GenProjectOptions& o, const std::string& Folder) {
  const GenProjectText t = GenerateProjectText(o);
  const std::string base = (Folder.empty() ? std::string(".") : Folder) + "/" + o.Name;
  for (const auto& [path, text] : {std::pair{base + ".alc", &t.Allocation},
                                   std::pair{base + ".cyp", &t.Project}}) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(text->data(), static_cast<std::streamsize>(text->size()));
    f.close();
    if (!f) throw std::runtime_error("Cannot write " + path);
  }
  return base + ".alc";
}
