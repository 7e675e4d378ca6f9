// genproject: writes a synthetic Zelta project (allocation and project file).
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "gen_project.h"

namespace {

const char kUsage[] =
    "Usage: genproject [options] [FOLDER]\n"
    "Writes FOLDER/NAME.alc (allocation file) and FOLDER/NAME.cyp (project file)\n"
    "describing N programs of M variables each, in the Zelta tool's format\n"
    "(Windows-1252 text, CR LF line ends). FOLDER defaults to the current one.\n"
    "\n"
    "Options:\n"
    "  --plcs N          programs, one PLC each (default 3)\n"
    "  --vars M          variable records per program, array records and\n"
    "                    elements included (default 100)\n"
    "  --first-nad K     NAD of the first program; the others follow (default 1)\n"
    "  --sockets S       sockets per program, alternating send and receive;\n"
    "                    every third goes to all PLCs, NAD 0 (default 2)\n"
    "  --socket-vars V   variables per socket (default 4)\n"
    "  --arrays P        percentage of lines that declare arrays (default 10)\n"
    "  --master-nad K    [Net] MasterNAD of every program; -1 omits it (default 100)\n"
    "  --seed X          seed of the type and array choices (default 1)\n"
    "  --name NAME       file name without extension (default generated)\n"
    "  --help            this text\n";

bool ParseInt(const char* text, long lo, long hi, int& out) {
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v < lo || v > hi) return false;
  out = static_cast<int>(v);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  GenProjectOptions o;
  std::string folder = ".";
  bool folderSeen = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    struct IntOption {
      const char* name;
      int* target;
      long lo, hi;
    };
    int seed = 1;
    const IntOption ints[] = {{"--plcs", &o.Plcs, 1, 100000},
                              {"--vars", &o.VarsPerPlc, 0, 10000000},
                              {"--first-nad", &o.FirstNAD, 1, INT_MAX / 2},
                              {"--sockets", &o.SocketsPerPlc, 0, 1000},
                              {"--socket-vars", &o.SocketVars, 0, 1000},
                              {"--arrays", &o.ArrayPercent, 0, 100},
                              {"--master-nad", &o.MasterNAD, -1, INT_MAX},
                              {"--seed", &seed, 0, INT_MAX}};
    bool handled = false;
    for (const IntOption& opt : ints) {
      if (arg != opt.name) continue;
      handled = true;
      if (i + 1 >= argc || !ParseInt(argv[i + 1], opt.lo, opt.hi, *opt.target)) {
        std::fprintf(stderr, "genproject: %s needs a number from %ld to %ld\n", opt.name, opt.lo,
                     opt.hi);
        return 2;
      }
      ++i;
      if (opt.target == &seed) o.Seed = static_cast<std::uint32_t>(seed);
    }
    if (handled) continue;
    if (arg == "--name") {
      if (i + 1 >= argc || argv[i + 1][0] == '\0' || std::strchr(argv[i + 1], '/') != nullptr) {
        std::fprintf(stderr, "genproject: --name needs a file name without '/'\n");
        return 2;
      }
      o.Name = argv[++i];
    } else if (!arg.empty() && arg[0] == '-') {
      std::fprintf(stderr, "genproject: unknown option %s (see --help)\n", arg.c_str());
      return 2;
    } else if (folderSeen) {
      std::fprintf(stderr, "genproject: only one folder may be given\n");
      return 2;
    } else {
      folder = arg;
      folderSeen = true;
    }
  }
  try {
    const std::string path = WriteGeneratedProject(o, folder);
    std::printf("%s\n", path.c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "genproject: %s\n", e.what());
    return 1;
  }
  return 0;
}
