// A fixed adapter list; its addresses are never sent to.
#pragma once

#include <optional>
#include <vector>

#include "platform/adapters.h"

class FakeNetworkAdapters final : public INetworkAdapters {
 public:
  std::optional<std::vector<TNetworkAdapter>> adapters = std::vector<TNetworkAdapter>{};
  std::optional<std::vector<TNetworkAdapter>> List() const override { return adapters; }
};
