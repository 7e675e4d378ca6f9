// Keeps the operator's tag colours and row order of a project's tables while
// the project is rebuilt from changed files. Everything is matched by name
// only: PLCs by PLC name, tags by item ID, sockets by direction and partner.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/colors.h"
#include "model/tag_table.h"

class TNorvoModel;
class TZeltaProject;

// Rows past this index are kept only for their colour, and only when the
// tag has one of its own.
inline constexpr size_t kSavedOrderRows = 1001;

struct TSavedRow {
  std::string FItemID;
  TColor FColor = clNone;
};

struct TPreserveColorAndOrderSocket {
  bool FIsInput = false;
  int FNAD = -2;
  std::vector<std::string> FItemIDs;  // every tag row, display order
};

struct TPreserveColorAndOrderNorvo {
  std::string FPLCName;
  // The first kSavedOrderRows tag rows of the operator's order, then any
  // further coloured ones.
  std::vector<TSavedRow> FRows;
  std::vector<TPreserveColorAndOrderSocket> FSockets;
};

struct TPreserveColorAndOrderOfProject {
  std::string FFileName;  // the allocation file
  std::vector<TPreserveColorAndOrderNorvo> FPLCs;
};

// Saves every PLC of PLCs that belongs to Project, in list order.
TPreserveColorAndOrderOfProject SaveProjectLook(const std::vector<std::unique_ptr<TNorvoModel>>& PLCs,
                                                const TZeltaProject* Project, std::string FileName);
// The last record whose PLC name matches, case ignored; null when none.
const TPreserveColorAndOrderNorvo* FindSavedPLC(const TPreserveColorAndOrderOfProject& Record,
                                                std::string_view PLCName);
void RestorePLCLook(const TPreserveColorAndOrderNorvo& Saved, TNorvoModel& PLC);
// RestorePLCLook for every PLC of Project (in PLCs) that has a saved record.
void RestoreProjectLook(const TPreserveColorAndOrderOfProject& Record,
                        const std::vector<std::unique_ptr<TNorvoModel>>& PLCs, const TZeltaProject* Project);

// Orders rows by their place in the saved list; a row without a tag, or
// whose tag is not listed, is equal to every row. The list is indexed once,
// so a large table sorts in n log n.
TRowComparer CompareBySavedOrder(const TPreserveColorAndOrderSocket& Saved);
