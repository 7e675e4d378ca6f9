// One loaded allocation file with its project file, and the small table the
// project tree shows for it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/clock.h"

class TZeltaProject {
 public:
  // Path as listed in the project list; FName is its file name less the
  // four-character extension.
  explicit TZeltaProject(const std::string& AllocFile);
  TZeltaProject(const TZeltaProject&) = delete;
  TZeltaProject& operator=(const TZeltaProject&) = delete;

  // The four rows: "Allocation File name", "Project File name",
  // "Last refresh at", "Refresh count". Today gives the date that is shown
  // as a time only.
  std::string RowValue(int Row, TDateTime Today) const;
  static const char* RowCaption(int Row);
  static constexpr int kRowCount = 4;

  void* FView = nullptr;  // the window's table; not owned
  std::string FAllocFileItem;
  std::string FProjectFileItem;  // empty unless the project file matched
  TDateTime FLastRefresh = 0;
  // Stamps of the two files at the last load; -1 for a missing file.
  int64_t FAllocFileAge = -1;
  int64_t FProjectFileAge = -1;
  std::string FName;
  bool FComplete = false;
  int32_t FRefreshCount = 0;
};

// Time only when the date is Today's, else short date, two blanks, time.
std::string LastRefreshText(TDateTime Value, TDateTime Today);
