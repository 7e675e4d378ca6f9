#include "opc/opc_support.h"

#include <algorithm>
#include <cstring>

TCallTrace::TCallTrace(TLogger& log, std::string name) : log_(log), name_(std::move(name)) {
  log_.EnterBlock(TLogBlockKind::CallStart, name_, true);
}

TCallTrace::~TCallTrace() { log_.LeaveBlock(TLogBlockKind::CallEnd, name_ + "=" + TLogger::ResultName(result_), true); }

void TraceLine(TLogger& log, const std::string& name, HRESULT hr) {
  log.LogLine(TLogBlockKind::Call, name + "=" + TLogger::ResultName(hr), true);
}

OLECHAR* TaskString(std::u16string_view text) {
  auto* p = static_cast<OLECHAR*>(CoTaskMemAlloc((text.size() + 1) * sizeof(OLECHAR)));
  if (!p) return nullptr;
  std::copy(text.begin(), text.end(), p);
  p[text.size()] = u'\0';
  return p;
}

OLECHAR* TaskStringUtf8(std::string_view utf8) { return TaskString(Utf8ToUtf16(utf8)); }
