#include "core/zelta_project.h"

#include <cmath>

#include "platform/date_time.h"

TZeltaProject::TZeltaProject(const std::string& AllocFile) : FAllocFileItem(AllocFile) {
  const size_t slash = AllocFile.find_last_of('/');
  const std::string file = slash == std::string::npos ? AllocFile : AllocFile.substr(slash + 1);
  FName = file.size() >= 4 ? file.substr(0, file.size() - 4) : std::string();
}

const char* TZeltaProject::RowCaption(int Row) {
  static const char* const kCaptions[kRowCount] = {"Allocation File name", "Project File name", "Last refresh at",
                                                   "Refresh count"};
  return Row >= 0 && Row < kRowCount ? kCaptions[Row] : "";
}

std::string TZeltaProject::RowValue(int Row, TDateTime Today) const {
  switch (Row) {
    case 0: return FAllocFileItem;
    case 1: return FProjectFileItem;
    case 2: return FRefreshCount > 0 ? LastRefreshText(FLastRefresh, Today) : std::string();
    case 3: return std::to_string(FRefreshCount);
    default: return {};
  }
}

std::string LastRefreshText(TDateTime Value, TDateTime Today) {
  if (std::floor(Value) == std::floor(Today)) return FormatLongTime(Value);
  return FormatShortDate(Value) + "  " + FormatLongTime(Value);
}
