// The machine's network adapters: the interfaces that carry an IPv4 address,
// in the order the system lists them (loopback included).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct TNetworkAdapter {
  std::string Name;         // system name, e.g. "eth0"
  std::string Description;  // shown to the operator; the interface name on Linux
  uint32_t Address = 0;     // first IPv4 address, host byte order
  uint32_t Mask = 0;        // its netmask, host byte order
};

class INetworkAdapters {
 public:
  virtual ~INetworkAdapters() = default;
  // nullopt when the list cannot be read at all.
  virtual std::optional<std::vector<TNetworkAdapter>> List() const = 0;
};

// The real list, from getifaddrs.
class TSystemNetworkAdapters final : public INetworkAdapters {
 public:
  std::optional<std::vector<TNetworkAdapter>> List() const override;
};

// Dotted text of a host-order address ("127.0.0.1").
std::string IPv4Text(uint32_t hostOrder);

constexpr uint32_t kLoopbackAddress = 0x7F000001;  // 127.0.0.1

// An IPv4 socket address in host byte order, so that code outside the
// platform layer needs no socket headers.
struct TIPv4SocketAddress {
  bool Valid = false;    // family set: an adapter was chosen
  uint32_t Address = 0;  // host byte order
  uint16_t Port = 0;
};

// (address AND mask) OR (NOT mask).
constexpr uint32_t BroadcastOf(uint32_t address, uint32_t mask) { return (address & mask) | ~mask; }
