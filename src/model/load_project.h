// Reader of a Zelta allocation file (.alc) and the project file (.cyp) beside
// it: turns them into plain records from which the project set builds PLCs,
// tags and sockets. Creates no tags itself.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

class TNorvoVar;

// A malformed allocation file, or one that cannot be read. what() is the
// operator-facing text; the project set shows it (full load) or logs it
// (automatic reload) and keeps the project listed without PLCs.
class ELoadProjectError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TLoadedVar {
  int FAddress = 0;  // byte address in the PLC
  std::uint8_t FVarType = 0;
  std::string FName;
  std::string FDescription;
  bool FIsArrayHead = false;
  // For an element: the array record of its line (null for "word" arrays).
  TLoadedVar* FArrayHead = nullptr;
  // Set by the project builder on array records: the tag made from this
  // record for the PLC being built, so its elements can find their head.
  TNorvoVar* FCreatedTag = nullptr;
};

struct TLoadedSocket {
  int FNAD = 0;          // partner PLC
  bool FIsInput = true;  // Direction 0: this program receives the block
  std::vector<TLoadedVar*> FVars;  // into the program's FVars, not owned
};

struct TLoadedNorvo {
  std::string FUnitName;
  std::string FProgramName;
  std::vector<std::unique_ptr<TLoadedVar>> FVars;  // array record before its elements
  std::vector<TLoadedSocket> FSockets;
  std::vector<int> FNADs;
  int FMasterNAD = -1;

  // Letter case ignored; the last of several matches.
  TLoadedVar* FindVar(std::string_view Name) const;
};

// "bit" 1, "word" 2, "int" 3, "long" 4, "real" 5, anything else 0 (case matters).
std::uint8_t TypeCodeOfWord(std::string_view Word);

// Modification stamp of a file (nanoseconds since the epoch), -1 when it is
// missing. Only compared for equality, to spot changed files.
std::int64_t FileAge(const std::string& FileName);

// The box text of a full load when the allocation file is missing, or empty
// when it exists.
std::string CheckAllocationFileExists(const std::string& FileName);

// "<folder>/<name less its last four characters>.cyp"
std::string ProjectFileNameOf(const std::string& AllocationFileName);

class TLoadProject {
 public:
  TLoadProject() = default;
  TLoadProject(const TLoadProject&) = delete;
  TLoadProject& operator=(const TLoadProject&) = delete;

  // Clears earlier records, then reads the allocation file and, if present,
  // its project file. Throws ELoadProjectError; after a throw no records are
  // left. Text is converted from Windows-1252 to UTF-8.
  void LoadAllocationFile(const std::string& FileName);
  // Same, on contents already in memory; ProjectText null means no project
  // file. FileName only names the file in messages and FProjectFileName.
  void LoadFromText(const std::string& FileName, std::string_view AllocationText,
                    const std::string_view* ProjectText);
  void Clear();

  // Position is the 1-based index of the last character of the previous
  // token, 0 before the first call on a line. Token views into Line.
  static bool NextToken(int& Position, std::string_view Line, std::string_view& Token);
  static std::vector<std::string_view> ExtractBlock(std::span<const std::string_view> Lines,
                                                    std::string_view BeginMarker,
                                                    std::string_view EndMarker);

  std::vector<std::unique_ptr<TLoadedNorvo>> FPrograms;
  std::string FProjectFileName;
  bool FProjectFileMatched = false;
  // Stamps of the files as read (FileAge); -1 for a file that was missing.
  std::int64_t FAllocFileAge = -1;
  std::int64_t FProjectFileAge = -1;

  // More records than any PLC could address: a file that asks for them is
  // treated as malformed instead of exhausting memory.
  static constexpr size_t kMaxVarRecords = 4'000'000;
  static constexpr int kMaxArrayCount = 65536;
  // Keeps every character index of a line within an int.
  static constexpr std::int64_t kMaxFileSize = std::int64_t{1} << 30;
};
