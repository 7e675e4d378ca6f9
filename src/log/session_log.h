// The operator's session log: a memo of lines for the "Log" window, the
// status-bar text, and the file NorvoOPC.log when the option is on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "log/log_gates.h"
#include "platform/clock.h"

// The lines the "Log" window shows. It is cleared when its text grows past
// 30000 characters so it never grows without bound.
class TSessionLogMemo {
 public:
  static constexpr size_t kMaxTextLength = 30000;

  const std::vector<std::string>& Lines() const { return FLines; }
  // Length of the lines joined by CR LF, as a multi-line text control holds them.
  size_t TextLength() const { return FTextLength; }
  void Add(const std::string& line);
  void Clear();
  // Moves on every change; the window repaints when it differs.
  uint64_t Revision() const { return FRevision; }

 private:
  std::vector<std::string> FLines;
  size_t FTextLength = 0;
  uint64_t FRevision = 0;
};

// The main window as the session log sees it; the controller implements it.
class ISessionLogView {
 public:
  virtual ~ISessionLogView() = default;
  // Shown and not yet closed for good.
  virtual bool MainWindowShown() const = 0;
  // The first panel of the status bar, for 10 seconds.
  virtual void ShowStatusText(const std::string& text) = 0;
};

class TSessionLog {
 public:
  // `options` and `clock` are owned by the caller; `view` may be null (no
  // window: the memo still fills, no status text). `folder` ends with '/'.
  // The file stays closed until ApplyLogSettings sees FLogToFile.
  TSessionLog(const TLogOptions& options, const Clock& clock, ISessionLogView* view, std::string folder,
              std::string versionText);
  ~TSessionLog();
  TSessionLog(const TSessionLog&) = delete;
  TSessionLog& operator=(const TSessionLog&) = delete;

  void Write(const std::string& text, bool important);
  // A timing line to the file only: milliseconds since the previous one,
  // padded to 6 characters, then the text.
  void WriteDebug(const std::string& text);
  // `format` holds one "%s", filled with TimeDateText of now.
  void WriteStamped(const std::string& format);
  void ApplyLogSettings();

  // Long time, two blanks, short date; only the time for 0.
  static std::string TimeDateText(TDateTime value);

  TSessionLogMemo& Memo() { return FMemo; }
  const TSessionLogMemo& Memo() const { return FMemo; }
  const std::string& FileName() const { return FFileName; }
  bool FileEnabled() const { return FFileEnabled; }
  // The file path the log uses when switched on.
  std::string LogFilePath() const;

 private:
  void AppendToFile(const std::string& text);

  const TLogOptions& FOptions;
  const Clock& FClock;
  ISessionLogView* FView;  // not owned
  std::string FFolder;
  std::string FVersionText;
  TSessionLogMemo FMemo;
  std::string FFileName;  // empty until opened once, and again after a failed creation
  bool FFileEnabled = false;
  uint32_t FLastDebugTick = 0;
  bool FClosing = false;
};

// Keeps letters, digits, blank and '-'; every other byte becomes '_';
// blanks at both ends are trimmed.
std::string SafeFileName(const std::string& name);

// Fills the first "%s" of `format` with `arg` (text without "%s" is kept).
std::string FillFormat(const std::string& format, const std::string& arg);
