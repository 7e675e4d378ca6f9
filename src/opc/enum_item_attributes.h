// The items of one group, read live at every call: items added or removed
// after the enumerator was made are seen.
#pragma once

#include <cstddef>

#include "opc/enum_unknown.h"
#include "opc/opc_da.h"

class TOPCGroup;

class TOPCItemAttEnumerator final : public ComObject<IEnumOPCItemAttributes> {
 public:
  // Holds a reference to the group for its lifetime.
  explicit TOPCItemAttEnumerator(TOPCGroup* group);
  ~TOPCItemAttEnumerator() override;

  // The array comes from the task allocator, sized for the records handed
  // out; each record's strings and VARIANT belong to the client too.
  HRESULT Next(uint32_t count, OPCITEMATTRIBUTES** items, uint32_t* fetched) override;
  HRESULT Skip(uint32_t count) override;
  HRESULT Reset() override;
  HRESULT Clone(IEnumOPCItemAttributes** out) override;

 private:
  ComPtr<TOPCGroup> FGroup;
  size_t FIndex = 0;
};

// Releases what one record owns (its strings, blob and VARIANT).
void ClearItemAttributes(OPCITEMATTRIBUTES* record);
