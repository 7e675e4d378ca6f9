// The debug trace of OPC calls: a text file of nested blocks drawn with bars,
// written only when the server runs with -DEBUGLOG.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/hresult.h"

enum class TLogBlockKind { None, Session, Call, CallStart, CallEnd };

class TLogger {
 public:
  // `clock` gives the time of stamped lines; the system clock when null. It
  // is not owned and must outlive the logger.
  explicit TLogger(std::string fileName, const Clock* clock = nullptr);

  bool FEnabled = false;  // set from the -DEBUGLOG switch

  const std::string& FileName() const { return FFileName; }
  void SetClock(const Clock* clock);

  // Appends one line (CR LF), opening and closing the file so that every
  // line is on disk at once; a file that cannot be opened drops the line.
  void WriteLine(const std::string& text);
  std::string IndentPrefix() const;
  size_t Depth() const { return FDepth.size(); }

  void LogLine(TLogBlockKind kind, const std::string& text, bool withTime);
  void EnterBlock(TLogBlockKind kind, const std::string& text, bool withTime);
  void LeaveBlock(TLogBlockKind kind, const std::string& text, bool withTime);
  void SessionStart();
  void SessionEnd();

  static std::string ResultName(HRESULT result);

 private:
  std::string Line(TLogBlockKind kind, const std::string& text, bool withTime) const;

  std::string FFileName;
  int FIndentWidth = 2;
  // One element per open level: 1 when the level's last line opened or
  // closed a block, 0 after a plain line.
  std::vector<int32_t> FDepth{0};
  const Clock* FClock;  // not owned
};

// The program's folder + "NorvoOPCDebug.Log".
std::string DebugLogFileName();

// The one logger of the process, disabled until the controller enables it.
TLogger& Logger();
