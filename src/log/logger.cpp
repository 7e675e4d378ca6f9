#include "log/logger.h"

#include <cstdio>
#include <memory>

#include "common/program_folder.h"
#include "platform/date_time.h"

namespace {

const char* KindText(TLogBlockKind kind) {
  switch (kind) {
    case TLogBlockKind::Session: return " Session ";
    case TLogBlockKind::Call: return " Call ";
    case TLogBlockKind::CallStart: return " Call start ";
    case TLogBlockKind::CallEnd: return " Call end   ";
    case TLogBlockKind::None: break;
  }
  return "";
}

const Clock& DefaultClock() {
  static const SystemClock clock;
  return clock;
}

std::string WithoutLast(std::string text) {
  if (!text.empty()) text.pop_back();
  return text;
}

}  // namespace

TLogger::TLogger(std::string fileName, const Clock* clock) : FFileName(std::move(fileName)), FClock(clock) {}

void TLogger::SetClock(const Clock* clock) { FClock = clock; }

void TLogger::WriteLine(const std::string& text) {
  if (!FEnabled) return;
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(FFileName.c_str(), "ab"), &std::fclose);
  if (!file) return;
  const std::string line = text + "\r\n";
  // A short write (disk full) loses this line only.
  std::fwrite(line.data(), 1, line.size(), file.get());
}

std::string TLogger::IndentPrefix() const {
  std::string prefix = "|";
  for (size_t level = 1; level < FDepth.size(); ++level) prefix += std::string(static_cast<size_t>(FIndentWidth), ' ') + "|";
  return prefix;
}

std::string TLogger::Line(TLogBlockKind kind, const std::string& text, bool withTime) const {
  std::string middle = " ";
  if (kind != TLogBlockKind::None) middle = KindText(kind) + std::string("|") + middle;
  if (withTime) {
    const Clock& clock = FClock != nullptr ? *FClock : DefaultClock();
    middle = DateTimeText(clock.Now()) + "|" + middle;
  }
  return IndentPrefix() + middle + text;
}

void TLogger::LogLine(TLogBlockKind kind, const std::string& text, bool withTime) {
  if (FDepth.back() == 1) WriteLine(WithoutLast(IndentPrefix()));
  WriteLine(Line(kind, text, withTime));
  FDepth.back() = 0;
}

void TLogger::EnterBlock(TLogBlockKind kind, const std::string& text, bool withTime) {
  if (kind != TLogBlockKind::Session) WriteLine(WithoutLast(IndentPrefix()));
  WriteLine(Line(kind, text, withTime));
  FDepth.push_back(1);
}

void TLogger::LeaveBlock(TLogBlockKind kind, const std::string& text, bool withTime) {
  const int32_t removed = FDepth.back();
  // An unmatched leave stays at the outermost level.
  if (FDepth.size() > 1) FDepth.pop_back();
  FDepth.back() = 1;
  if (removed == 0 || kind == TLogBlockKind::Session) WriteLine(IndentPrefix());
  WriteLine(Line(kind, text, withTime));
}

void TLogger::SessionStart() { EnterBlock(TLogBlockKind::Session, "OPC server session started", true); }

void TLogger::SessionEnd() {
  LeaveBlock(TLogBlockKind::Session, "OPC server session ended", true);
  WriteLine("\n\r\n\r\n\r");
}

std::string TLogger::ResultName(HRESULT result) {
  struct RName {
    HRESULT Code;
    const char* Name;
  };
  static constexpr RName kNames[] = {
      {S_OK, "S_OK"},
      {S_FALSE, "S_FALSE"},
      {OPC_S_UNSUPPORTEDRATE, "OPC_S_UNSUPPORTEDRATE"},
      {OPC_S_CLAMP, "OPC_S_CLAMP"},
      {OPC_S_INUSE, "OPC_S_INUSE"},
      {OPC_S_ALREADYACKED, "OPC_S_ALREADYACKED"},
      {OPC_S_INVALIDBUFFERTIME, "OPC_S_INVALIDBUFFERTIME"},
      {OPC_S_INVALIDMAXSIZE, "OPC_S_INVALIDMAXSIZE"},
      {E_NOTIMPL, "E_NOTIMPL"},
      {E_NOINTERFACE, "E_NOINTERFACE"},
      {E_FAIL, "E_FAIL"},
      {E_OUTOFMEMORY, "E_OUTOFMEMORY"},
      {E_INVALIDARG, "E_INVALIDARG"},
      {OPC_E_INVALIDHANDLE, "OPC_E_INVALIDHANDLE"},
      {OPC_E_BADTYPE, "OPC_E_BADTYPE"},
      {OPC_E_PUBLIC, "OPC_E_PUBLIC"},
      {OPC_E_BADRIGHTS, "OPC_E_BADRIGHTS"},
      {OPC_E_UNKNOWNITEMID, "OPC_E_UNKNOWNITEMID"},
      {OPC_E_INVALIDITEMID, "OPC_E_INVALIDITEMID"},
      {OPC_E_INVALIDFILTER, "OPC_E_INVALIDFILTER"},
      {OPC_E_UNKNOWNPATH, "OPC_E_UNKNOWNPATH"},
      {OPC_E_RANGE, "OPC_E_RANGE"},
      {OPC_E_DUPLICATENAME, "OPC_E_DUPLICATENAME"},
      {OPC_E_INVALIDCONFIGFILE, "OPC_E_INVALIDCONFIGFILE"},
      {OPC_E_NOTFOUND, "OPC_E_NOTFOUND"},
      {OPC_E_INVALID_PID, "OPC_E_INVALID_PID"},
      {OPC_E_INVALIDTIME, "OPC_E_INVALIDTIME"},
      {OPC_E_BUSY, "OPC_E_BUSY"},
      {OPC_E_NOINFO, "OPC_E_NOINFO"},
  };
  for (const auto& n : kNames)
    if (n.Code == result) return n.Name;
  return "code: " + std::to_string(result);
}

std::string DebugLogFileName() { return ProgramFolder() + "NorvoOPC" + "Debug.Log"; }

TLogger& Logger() {
  static TLogger logger(DebugLogFileName());
  return logger;
}
