#include "core/connection_config.h"

#include <algorithm>
#include <optional>

#include "common/message_box.h"
#include "platform/registry.h"

namespace {

std::string Indexed(const char* prefix, size_t n, const char* suffix = "") {
  return prefix + std::to_string(n) + suffix;
}

// Reads the connections of the open "IndividualConnections" key.
void ReadConnections(const TRegistry& reg, std::vector<TCommunicationSettings>& out) {
  const std::optional<int32_t> count = reg.ReadInteger("ConnectionsCount");
  if (!count) return;
  for (int32_t n = 0; n < *count; ++n) {
    const size_t i = static_cast<size_t>(n);
    const std::optional<int32_t> nad = reg.ReadInteger(Indexed("C", i, "_NAD"));
    if (!nad) return;
    TCommunicationSettings c;
    c.FConnectionNAD = *nad;
    if (auto v = reg.ReadInteger(Indexed("C", i, "_DriveType")))
      // Outside a byte it names no driver type; wrapping it could make one.
      c.FDriverType = (*v >= 0 && *v <= 255) ? static_cast<uint8_t>(*v) : 0;
    if (auto v = reg.ReadInteger(Indexed("C", i, "_DriveTimeOut"))) c.FTimeOut = *v;
    if (auto v = reg.ReadInteger(Indexed("C", i, "_DriverCommPort"))) c.FCommPort = *v;
    if (auto v = reg.ReadInteger(Indexed("C", i, "_DriverAutoMaster"))) c.FAutoMaster = *v != 0;
    if (auto v = reg.ReadInteger(Indexed("C", i, "_DriverCommMaster"))) c.FCommMaster = *v != 0;
    if (auto v = reg.ReadString(Indexed("C", i, "_DriverHost"))) c.FHost = *v;
    if (auto v = reg.ReadInteger(Indexed("C", i, "_RemoteUDPPort"))) c.FRemoteUDPPort = *v;
    if (auto v = reg.ReadInteger(Indexed("C", i, "_DriverIPAdrAutodetect"))) c.FIPAdrAutodetect = *v != 0;
    out.push_back(std::move(c));
  }
}

}  // namespace

void ReadConfiguration(TConnectionConfig& Config) {
  Config.FProjectFiles.clear();
  Config.FConnections.clear();

  TRegistry reg(RegRoot::LocalMachine);
  if (!reg.OpenKeyReadOnly(kConfigurationKeyPath)) return;

  if (const std::optional<int32_t> count = reg.ReadInteger("ProjectsCount")) {
    const int32_t n = std::min(*count, kMaxProjectFiles);
    for (int32_t i = 0; i < n; ++i) {
      const std::string name = Indexed("ProjectFile", static_cast<size_t>(i));
      if (!reg.ValueExists(name)) {
        Config.FProjectFiles.emplace_back();
        continue;
      }
      const std::optional<std::string> path = reg.ReadString(name);
      if (!path) break;
      Config.FProjectFiles.push_back(*path);
    }
  }

  const std::optional<int32_t> individual = reg.ReadInteger("UseIndividualConnections");
  Config.FUseIndividualConnections = individual && *individual != 0;

  if (!reg.OpenKeyReadOnly(kIndividualConnectionsKey)) return;
  ReadConnections(reg, Config.FConnections);
}

bool WriteConfiguration(const TConnectionConfig& Config, bool& RegistryWarningArmed, IMessageBoxes& Boxes) {
  TRegistry reg(RegRoot::LocalMachine);
  const auto write = [&] {
    if (!reg.OpenKey(kConfigurationKeyPath, true)) return false;
    if (!reg.WriteInteger("ProjectsCount", static_cast<int32_t>(Config.FProjectFiles.size()))) return false;
    for (size_t n = 0; n < Config.FProjectFiles.size(); ++n)
      if (!reg.WriteString(Indexed("ProjectFile", n), Config.FProjectFiles[n])) return false;
    if (!reg.WriteInteger("UseIndividualConnections", Config.FUseIndividualConnections ? 1 : 0)) return false;

    if (!reg.OpenKey(kIndividualConnectionsKey, true)) return false;
    if (!reg.WriteInteger("ConnectionsCount", static_cast<int32_t>(Config.FConnections.size()))) return false;
    for (size_t n = 0; n < Config.FConnections.size(); ++n) {
      const TCommunicationSettings& c = Config.FConnections[n];
      const bool ok = reg.WriteInteger(Indexed("C", n, "_NAD"), c.FConnectionNAD) &&
                      reg.WriteInteger(Indexed("C", n, "_DriveType"), c.FDriverType) &&
                      reg.WriteInteger(Indexed("C", n, "_DriveTimeOut"), c.FTimeOut) &&
                      reg.WriteInteger(Indexed("C", n, "_DriverCommPort"), c.FCommPort) &&
                      reg.WriteInteger(Indexed("C", n, "_DriverAutoMaster"), c.FAutoMaster ? 1 : 0) &&
                      reg.WriteInteger(Indexed("C", n, "_DriverCommMaster"), c.FCommMaster ? 1 : 0) &&
                      reg.WriteString(Indexed("C", n, "_DriverHost"), c.FHost) &&
                      reg.WriteInteger(Indexed("C", n, "_RemoteUDPPort"), c.FRemoteUDPPort) &&
                      reg.WriteInteger(Indexed("C", n, "_DriverIPAdrAutodetect"), c.FIPAdrAutodetect ? 1 : 0);
      if (!ok) return false;
    }
    return true;
  };
  if (write()) return true;
  ReportRegistryWriteFailure(RegistryWarningArmed, Boxes);
  return false;
}
