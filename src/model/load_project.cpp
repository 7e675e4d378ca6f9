#include "model/load_project.h"


#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <unordered_map>

#include "common/ansi_text.h"
#include "model/my_ini_file.h"
#include "platform/file_io.h"

namespace {

constexpr std::uint8_t kWordCode = 2;
// Array record type by element type; "word" arrays get no record.
constexpr std::uint8_t kArrayCodeOf[6] = {0, 7, 0, 8, 9, 10};

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameTextAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

std::string UpperKey(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool IsBlankLine(std::string_view s) { return std::all_of(s.begin(), s.end(), IsBlank); }

// Line ends are CR LF, LF or a lone CR. A break at the very end opens no
// further line, so "a\nb\n" has two lines.
std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  lines.reserve(text.size() / 48 + 1);
  size_t start = 0;
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    const char c = text[i];
    if (c != '\n' && c != '\r') {
      ++i;
      continue;
    }
    lines.push_back(text.substr(start, i - start));
    i += (c == '\r' && i + 1 < n && text[i + 1] == '\n') ? 2 : 1;
    start = i;
  }
  if (start < n) lines.push_back(text.substr(start));
  return lines;
}

// Hexadecimal digits only, as the Zelta tool writes addresses; false when the
// value is not a non-negative 32-bit integer.
bool ParseHexAddress(std::string_view s, int& value) {
  if (s.empty()) return false;
  std::int64_t v = 0;
  for (const char c : s) {
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else return false;
    v = v * 16 + d;
    if (v > std::numeric_limits<int>::max()) return false;
  }
  value = static_cast<int>(v);
  return true;
}

bool FitsAddress(std::int64_t a) { return a >= 0 && a <= std::numeric_limits<int>::max(); }

std::string ToUtf8(std::string_view ansi) { return AnsiToUtf8(ansi); }

std::string TwoDigits(const char* prefix, int n) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%s%02d", prefix, n);
  return buf;
}

std::string ReadProjectFile(const std::string& fileName, std::int64_t& age) {
  TFileReadResult r = ReadWholeFile(fileName, TLoadProject::kMaxFileSize);
  age = r.Stamp;
  switch (r.Status) {
    case TFileReadResult::TStatus::Ok:
      break;
    case TFileReadResult::TStatus::CannotOpen:
      throw ELoadProjectError("Cannot open file \"" + fileName + "\". " + r.SystemError);
    case TFileReadResult::TStatus::CannotRead:
      throw ELoadProjectError("Cannot read file \"" + fileName + "\". " + r.SystemError);
    case TFileReadResult::TStatus::TooLarge:
      throw ELoadProjectError("File too large: " + fileName);
  }
  return std::move(r.Text);
}

using Programs = std::vector<std::unique_ptr<TLoadedNorvo>>;

// Interprets the allocation file; throws on the format errors, leaving the
// caller's records untouched.
Programs ParseAllocation(const std::string& fileName, std::string_view text) {
  Programs programs;
  TLoadedNorvo* current = nullptr;
  bool address0Taken = false;
  size_t records = 0;
  const std::string mismatch = "Missmatched file format in " + fileName;

  const std::vector<std::string_view> lines = SplitLines(text);
  // The Zelta tool closes the file with a line of its own: never interpreted.
  const size_t count = lines.empty() ? 0 : lines.size() - 1;
  for (size_t li = 0; li < count; ++li) {
    const std::string_view line = lines[li];
    if (IsBlankLine(line)) continue;
    int pos = 0;
    std::string_view tok;
    if (!TLoadProject::NextToken(pos, line, tok)) continue;

    if (SameTextAscii(tok, ";cpu")) {
      std::string_view unit;
      if (!TLoadProject::NextToken(pos, line, unit)) continue;
      auto program = std::make_unique<TLoadedNorvo>();
      program->FUnitName = ToUtf8(unit);
      while (TLoadProject::NextToken(pos, line, tok)) {
        int nad = 0;
        if (TMyIniFile::TryStrToInt(tok, nad) && nad > 0) program->FNADs.push_back(nad);
      }
      current = program.get();
      programs.push_back(std::move(program));
      address0Taken = false;
      continue;
    }
    if (SameTextAscii(tok, ";addr")) {
      if (current == nullptr) throw ELoadProjectError("Zelta allocation file (*.ALC) format old");
      continue;
    }

    if (current == nullptr) throw ELoadProjectError(mismatch);
    int address = 0;
    if (!ParseHexAddress(tok, address)) throw ELoadProjectError(mismatch);
    if (address == 0) {
      if (address0Taken) continue;
      address0Taken = true;
    }
    if (!TLoadProject::NextToken(pos, line, tok)) continue;  // column 2, unused
    if (!TLoadProject::NextToken(pos, line, tok)) continue;
    int elements = 0;
    if (!TMyIniFile::TryStrToInt(tok, elements) || elements <= 0 ||
        elements > TLoadProject::kMaxArrayCount) {
      throw ELoadProjectError(mismatch + " (Array column)");
    }
    int offset = 0;
    if (!TLoadProject::NextToken(pos, line, tok)) continue;
    if (!TMyIniFile::TryStrToInt(tok, offset) || offset < 0) continue;
    int stride = 0;
    if (!TLoadProject::NextToken(pos, line, tok)) continue;
    if (!TMyIniFile::TryStrToInt(tok, stride)) continue;
    if (!TLoadProject::NextToken(pos, line, tok)) continue;
    if (SameTextAscii(tok, "local") || SameTextAscii(tok, "reg")) continue;
    if (!TLoadProject::NextToken(pos, line, tok)) continue;
    const std::uint8_t type = TypeCodeOfWord(tok);
    if (type == 0) continue;
    std::string_view name;
    if (!TLoadProject::NextToken(pos, line, name)) continue;
    const std::string description = ToUtf8(TrimBlanks(line.substr(static_cast<size_t>(pos))));

    // An address the record could not hold drops the line, like other bad
    // columns.
    const std::int64_t first = std::int64_t{address} + offset;
    const std::int64_t last = first + std::int64_t{stride} * (elements - 1);
    if (!FitsAddress(first) || !FitsAddress(last)) continue;

    const bool withHead = elements > 1 && type != kWordCode;
    records += static_cast<size_t>(elements) + (withHead ? 1 : 0);
    if (records > TLoadProject::kMaxVarRecords) {
      throw ELoadProjectError("Too many variables in " + fileName);
    }

    if (elements == 1) {
      auto var = std::make_unique<TLoadedVar>();
      var->FAddress = static_cast<int>(first);
      var->FVarType = type;
      var->FName = ToUtf8(name);
      var->FDescription = description;
      current->FVars.push_back(std::move(var));
      continue;
    }

    const size_t dot = name.find('.');
    const std::string base = ToUtf8(name.substr(0, dot));
    const std::string suffix = dot == std::string_view::npos ? std::string() : ToUtf8(name.substr(dot));
    TLoadedVar* head = nullptr;
    current->FVars.reserve(current->FVars.size() + static_cast<size_t>(elements) + 1);
    if (withHead) {
      auto var = std::make_unique<TLoadedVar>();
      var->FAddress = address;
      var->FVarType = kArrayCodeOf[type];
      var->FName = base;
      var->FDescription = description;
      var->FIsArrayHead = true;
      head = var.get();
      current->FVars.push_back(std::move(var));
    }
    for (int i = 0; i < elements; ++i) {
      auto var = std::make_unique<TLoadedVar>();
      var->FAddress = static_cast<int>(first + std::int64_t{stride} * i);
      var->FVarType = type;
      var->FName.reserve(base.size() + suffix.size() + 8);
      var->FName.append(base).append("[").append(std::to_string(i)).append("]").append(suffix);
      var->FDescription = description;
      var->FArrayHead = head;
      current->FVars.push_back(std::move(var));
    }
  }
  return programs;
}

// First occurrence of every line that could be a block marker, by its
// upper-cased text, so that pairing blocks stays linear in the file size.
class MarkerIndex {
 public:
  explicit MarkerIndex(const std::vector<std::string_view>& lines) {
    for (size_t i = 0; i < lines.size(); ++i) {
      if (!lines[i].empty() && lines[i].front() == '#') {
        FPositions[UpperKey(lines[i])].push_back(i);
      }
    }
  }
  // Same result as ExtractBlock over lines [from, to).
  std::span<const std::string_view> Block(const std::vector<std::string_view>& lines,
                                          size_t from, size_t to, std::string_view begin,
                                          std::string_view end, size_t& blockFrom) const {
    const size_t b = FirstAtOrAfter(begin, from, to);
    const size_t e = FirstAtOrAfter(end, from, to);
    if (b == npos || e == npos || e <= b) return {};
    blockFrom = b + 1;
    return std::span<const std::string_view>(lines).subspan(b + 1, e - b - 1);
  }

  static constexpr size_t npos = static_cast<size_t>(-1);

 private:
  size_t FirstAtOrAfter(std::string_view marker, size_t from, size_t to) const {
    const auto it = FPositions.find(UpperKey(marker));
    if (it == FPositions.end()) return npos;
    const auto p = std::lower_bound(it->second.begin(), it->second.end(), from);
    if (p == it->second.end() || *p >= to) return npos;
    return *p;
  }
  std::unordered_map<std::string, std::vector<size_t>> FPositions;
};

// Case-insensitive (ASCII) keys over the records' own names: no copies.
struct NoCaseHash {
  size_t operator()(std::string_view s) const {
    size_t h = 1469598103934665603ULL;
    for (const char c : s) h = (h ^ static_cast<unsigned char>(LowerAscii(c))) * 1099511628211ULL;
    return h;
  }
};
struct NoCaseEqual {
  bool operator()(std::string_view a, std::string_view b) const { return SameTextAscii(a, b); }
};

void ReadSockets(TLoadedNorvo& program, const TMyIniFile& options) {
  // Built on demand: most programs have no sockets.
  std::unordered_map<std::string_view, TLoadedVar*, NoCaseHash, NoCaseEqual> byName;
  bool indexed = false;
  for (int s = 0;; ++s) {
    const std::string section = TwoDigits("Socket", s);
    const int nad = options.ReadInteger(section, "NAD", -100000);
    const int direction = options.ReadInteger(section, "Direction", -100000);
    if (nad < 0 || (direction != 0 && direction != 1)) break;
    TLoadedSocket& socket = program.FSockets.emplace_back();
    socket.FNAD = nad;
    socket.FIsInput = direction == 0;
    if (!indexed) {
      byName.reserve(program.FVars.size());
      for (const auto& var : program.FVars) byName[var->FName] = var.get();  // last one wins
      indexed = true;
    }
    for (int v = 0;; ++v) {
      std::string_view value;
      if (!options.FindKey(section, TwoDigits("Var", v), value) || value.empty()) break;
      const std::string name = ToUtf8(value);
      const auto it = byName.find(name);
      if (it == byName.end()) break;
      socket.FVars.push_back(it->second);
    }
    if (s == std::numeric_limits<int>::max()) break;
  }
}

bool ApplyProjectFile(Programs& programs, std::string_view text) {
  const std::vector<std::string_view> lines = SplitLines(text);
  const std::vector<std::string_view> global =
      TLoadProject::ExtractBlock(lines, "##PROJECT_GLOBAL_BEGIN", "##PROJECT_GLOBAL_END");
  const int count = TMyIniFile(&global).ReadInteger("Programs", "Count", 0);
  if (count <= 0 || static_cast<size_t>(count) != programs.size()) return false;

  const MarkerIndex markers(lines);
  for (size_t k = 1; k <= programs.size(); ++k) {
    TLoadedNorvo& program = *programs[k - 1];
    size_t blockFrom = 0;
    const std::span<const std::string_view> block =
        markers.Block(lines, 0, lines.size(), "##PROGRAM_BEGIN_" + std::to_string(k),
                      "##PROGRAM_END_" + std::to_string(k), blockFrom);
    size_t optionsFrom = 0;
    const std::span<const std::string_view> optionLines =
        block.empty() ? block
                      : markers.Block(lines, blockFrom, blockFrom + block.size(),
                                      "#PROJECT_OPTIONS_BEGIN", "#PROJECT_OPTIONS_END",
                                      optionsFrom);
    const TMyIniFile options(optionLines);
    program.FProgramName = ToUtf8(options.ReadString("Program", "Name", ""));
    program.FMasterNAD = options.ReadInteger("Net", "MasterNAD", -1);
    ReadSockets(program, options);
  }
  return true;
}

}  // namespace

TLoadedVar* TLoadedNorvo::FindVar(std::string_view Name) const {
  for (auto it = FVars.rbegin(); it != FVars.rend(); ++it) {
    if (SameTextAscii((*it)->FName, Name)) return it->get();
  }
  return nullptr;
}

std::uint8_t TypeCodeOfWord(std::string_view Word) {
  if (Word == "bit") return 1;
  if (Word == "word") return 2;
  if (Word == "int") return 3;
  if (Word == "long") return 4;
  if (Word == "real") return 5;
  return 0;
}

std::int64_t FileAge(const std::string& FileName) { return FileStamp(FileName).value_or(-1); }

std::string CheckAllocationFileExists(const std::string& FileName) {
  if (FileStamp(FileName)) return {};
  return "Allocation file does not exist " + FileName;
}

std::string ProjectFileNameOf(const std::string& AllocationFileName) {
  const size_t slash = AllocationFileName.rfind('/');
  const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  size_t end = AllocationFileName.size();
  // Four characters, not bytes, so a UTF-8 name is never cut mid-sequence.
  for (int chars = 0; chars < 4 && end > nameStart; ++chars) {
    --end;
    while (end > nameStart && (static_cast<unsigned char>(AllocationFileName[end]) & 0xC0) == 0x80) {
      --end;
    }
  }
  return AllocationFileName.substr(0, end) + ".cyp";
}

void TLoadProject::Clear() {
  FPrograms.clear();
  FProjectFileMatched = false;
}

bool TLoadProject::NextToken(int& Position, std::string_view Line, std::string_view& Token) {
  const size_t n = Line.size();
  size_t i = Position < 0 ? 0 : static_cast<size_t>(Position);
  if (i >= n) return false;
  if (Line[i] == ':') {
    Token = Line.substr(i, 1);
    Position = static_cast<int>(i + 1);
    return true;
  }
  while (i < n && Line[i] == ' ') ++i;
  if (i >= n) {
    // Trailing spaces hold no token.
    Position = static_cast<int>(n);
    return false;
  }
  const size_t start = i;
  while (i < n && Line[i] != ' ') ++i;
  Token = TrimBlanks(Line.substr(start, i - start));
  Position = static_cast<int>(i);
  return true;
}

std::vector<std::string_view> TLoadProject::ExtractBlock(std::span<const std::string_view> Lines,
                                                         std::string_view BeginMarker,
                                                         std::string_view EndMarker) {
  size_t begin = Lines.size();
  size_t end = Lines.size();
  for (size_t i = 0; i < Lines.size(); ++i) {
    if (begin == Lines.size() && SameTextAscii(Lines[i], BeginMarker)) begin = i;
    if (end == Lines.size() && SameTextAscii(Lines[i], EndMarker)) end = i;
  }
  if (begin == Lines.size() || end == Lines.size() || end <= begin) return {};
  return {Lines.begin() + static_cast<std::ptrdiff_t>(begin) + 1,
          Lines.begin() + static_cast<std::ptrdiff_t>(end)};
}

void TLoadProject::LoadFromText(const std::string& FileName, std::string_view AllocationText,
                                const std::string_view* ProjectText) {
  Clear();
  FProjectFileName = ProjectFileNameOf(FileName);
  Programs programs = ParseAllocation(FileName, AllocationText);
  const bool matched = ProjectText != nullptr && ApplyProjectFile(programs, *ProjectText);
  FPrograms = std::move(programs);
  FProjectFileMatched = matched;
}

void TLoadProject::LoadAllocationFile(const std::string& FileName) {
  Clear();
  FProjectFileName = ProjectFileNameOf(FileName);
  FAllocFileAge = -1;
  FProjectFileAge = FileAge(FProjectFileName);
  const std::string allocation = ReadProjectFile(FileName, FAllocFileAge);
  std::string project;
  bool haveProject = false;
  if (FProjectFileAge != -1) {
    try {
      project = ReadProjectFile(FProjectFileName, FProjectFileAge);
      haveProject = true;
    } catch (const ELoadProjectError&) {
      // An unreadable project file counts as a missing one: the programs
      // load without names, masters or sockets.
    }
  }
  const std::string_view projectView(project);
  LoadFromText(FileName, allocation, haveProject ? &projectView : nullptr);
}
