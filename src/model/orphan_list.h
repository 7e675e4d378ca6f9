// The project set's list of orphan tags as the model sees it: tags that OPC
// items or monitors still hold after their PLC went away. PLCs hand tags to
// it and take them back when a tag with the same item ID returns.
#pragma once

#include <memory>
#include <string_view>

class TNorvoVar;

class IOrphanList {
 public:
  virtual ~IOrphanList() = default;
  // The orphan with that item ID (letter case ignored), taken out of the
  // list; null when there is none.
  virtual std::unique_ptr<TNorvoVar> TakeOrphan(std::string_view ItemID) = 0;
  virtual void AddOrphan(std::unique_ptr<TNorvoVar> Tag) = 0;
};
