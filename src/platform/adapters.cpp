#include "platform/adapters.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>

#include <memory>

std::optional<std::vector<TNetworkAdapter>> TSystemNetworkAdapters::List() const {
  ifaddrs* raw = nullptr;
  if (getifaddrs(&raw) != 0) return std::nullopt;
  std::unique_ptr<ifaddrs, decltype(&freeifaddrs)> list(raw, &freeifaddrs);

  std::vector<TNetworkAdapter> adapters;
  for (const ifaddrs* entry = list.get(); entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET || entry->ifa_name == nullptr) continue;
    const std::string name = entry->ifa_name;
    // An interface with several addresses is one adapter; its first address counts.
    bool known = false;
    for (const auto& a : adapters) known = known || a.Name == name;
    if (known) continue;
    TNetworkAdapter adapter;
    adapter.Name = name;
    adapter.Description = name;
    adapter.Address = ntohl(reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr);
    if (entry->ifa_netmask != nullptr)
      adapter.Mask = ntohl(reinterpret_cast<const sockaddr_in*>(entry->ifa_netmask)->sin_addr.s_addr);
    adapters.push_back(std::move(adapter));
  }
  return adapters;
}

std::string IPv4Text(uint32_t hostOrder) {
  return std::to_string((hostOrder >> 24) & 0xFF) + "." + std::to_string((hostOrder >> 16) & 0xFF) + "." +
         std::to_string((hostOrder >> 8) & 0xFF) + "." + std::to_string(hostOrder & 0xFF);
}
