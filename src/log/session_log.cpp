#include "log/session_log.h"

#include <cctype>
#include <cstdio>
#include <memory>

#include "platform/date_time.h"

namespace {

using FilePtr = std::unique_ptr<FILE, int (*)(FILE*)>;

// Opens for appending (creating the file when missing), writes and closes;
// false when any of it failed.
bool AppendLine(const std::string& path, const std::string& text) {
  if (path.empty()) return false;
  FilePtr file(std::fopen(path.c_str(), "ab"), &std::fclose);
  if (!file) return false;
  const std::string line = text + "\r\n";
  const bool written = std::fwrite(line.data(), 1, line.size(), file.get()) == line.size();
  const bool flushed = std::fflush(file.get()) == 0;
  return written && flushed && std::fclose(file.release()) == 0;
}

}  // namespace

void TSessionLogMemo::Add(const std::string& line) {
  FTextLength += (FLines.empty() ? 0 : 2) + line.size();
  FLines.push_back(line);
  ++FRevision;
}

void TSessionLogMemo::Clear() {
  FLines.clear();
  FTextLength = 0;
  ++FRevision;
}

std::string SafeFileName(const std::string& name) {
  std::string safe = name;
  for (auto& c : safe) {
    const bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ' ' || c == '-';
    if (!keep) c = '_';
  }
  const auto first = safe.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  const auto last = safe.find_last_not_of(' ');
  return safe.substr(first, last - first + 1);
}

std::string FillFormat(const std::string& format, const std::string& arg) {
  const auto at = format.find("%s");
  if (at == std::string::npos) return format;
  return format.substr(0, at) + arg + format.substr(at + 2);
}

TSessionLog::TSessionLog(const TLogOptions& options, const Clock& clock, ISessionLogView* view, std::string folder,
                         std::string versionText)
    : FOptions(options), FClock(clock), FView(view), FFolder(std::move(folder)), FVersionText(std::move(versionText)) {
  ApplyLogSettings();
}

TSessionLog::~TSessionLog() {
  FClosing = true;
  WriteStamped("Server shut down at %s");
}

std::string TSessionLog::LogFilePath() const { return FFolder + SafeFileName("NorvoOPC") + ".log"; }

std::string TSessionLog::TimeDateText(TDateTime value) {
  if (value == 0) return FormatLongTime(value);
  return FormatLongTime(value) + "  " + FormatShortDate(value);
}

void TSessionLog::AppendToFile(const std::string& text) {
  // A failed write loses this entry for the file only.
  if (FFileEnabled) AppendLine(FFileName, text);
}

void TSessionLog::Write(const std::string& text, bool important) {
  if (!FClosing && (FView == nullptr || FView->MainWindowShown())) {
    const size_t before = FMemo.Lines().size();
    if (FMemo.TextLength() > TSessionLogMemo::kMaxTextLength) FMemo.Clear();
    FMemo.Add(text);
    if (FMemo.Lines().size() == before) FMemo.Clear();
    if (important && FView != nullptr) FView->ShowStatusText(text);
  }
  AppendToFile(text);
}

void TSessionLog::WriteDebug(const std::string& text) {
  if (!FFileEnabled || !FOptions.FLogDebugData) return;
  const uint32_t now = FClock.TickCount();
  std::string line = std::to_string(TickDiff(now, FLastDebugTick));
  FLastDebugTick = now;
  if (line.size() < 6) line.resize(6, ' ');
  AppendToFile(line + text);
}

void TSessionLog::WriteStamped(const std::string& format) { Write(FillFormat(format, TimeDateText(FClock.Now())), true); }

void TSessionLog::ApplyLogSettings() {
  if (FOptions.FLogToFile == FFileEnabled) return;
  FFileEnabled = FOptions.FLogToFile;
  if (!FFileEnabled) return;

  FFileName = LogFilePath();
  // Appending creates a missing file; the empty line separates runs.
  if (!AppendLine(FFileName, "")) {
    const std::string path = FFileName;
    // Emptied first so the failure line goes to the memo without another
    // try at the file; later lines are dropped until the option is toggled.
    FFileName.clear();
    Write(FillFormat("Unable to create log file %s", path), true);
    return;
  }
  Write(FillFormat("NorvoOPC Data Access Server %s", FVersionText), true);
  WriteStamped("Server started at %s");
  Write(FillFormat("Log file saved as %s", FFileName), true);
}
