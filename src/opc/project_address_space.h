// The project set as the OPC objects' address space.
#pragma once

#include "opc/address_space.h"

class TOPCProject;

class TProjectAddressSpace final : public IOPCAddressSpace {
 public:
  // project: not owned; must outlive this object.
  explicit TProjectAddressSpace(TOPCProject& project) : FProject(project) {}

  TNorvoVar* FindItem(const std::string& itemID) override;
  void TagUnreferenced(TNorvoVar* tag) override;
  std::span<const std::unique_ptr<TNorvoVar>> ServerSysTags() const override;
  std::span<const std::unique_ptr<TNorvoModel>> PLCs() const override;
  TNorvoModel* FindPLCByName(std::string_view name) const override;
  bool ContainsPLC(const TNorvoModel* plc) const override;

 private:
  TOPCProject& FProject;
};
