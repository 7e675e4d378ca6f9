// The project set's communication side: drivers shared by connection,
// master flags, and starting and stopping communication.

#include <algorithm>

#include "common/message_box.h"
#include "core/opc_project.h"
#include "platform/adapters.h"
#include "settings/applied_settings.h"

uint32_t TOPCProject::AdapterAddress() const { return FContext.Applied.FLocalAddress.Address; }

TCommunicationSettings TOPCProject::DefaultConnection() const {
  const TAppliedSettings& a = FContext.Applied;
  TCommunicationSettings c;
  c.FConnectionNAD = kSharedConnectionNAD;
  c.FTimeOut = a.FMasterTimeOut;
  if (a.FSerialSelected) {
    c.FDriverType = kDriverSerial;
    c.FCommPort = a.FDefSerialPort;
    c.FCommMaster = false;
  } else {
    c.FDriverType = kDriverUDP;
    c.FRemoteUDPPort = kDefaultRemoteUDPPort;
    c.FIPAdrAutodetect = true;
  }
  return c;
}

TCommunicationSettings* TOPCProject::FindConnection(int NAD) {
  for (auto& c : FConnections)
    if (c.FConnectionNAD == NAD) return &c;
  return nullptr;
}

TCommDriver* TOPCProject::GetDriver(int NAD, uint32_t IP) {
  TCommunicationSettings settings;
  const TCommunicationSettings* individual = FUseIndividualConnections ? FindConnection(NAD) : nullptr;
  settings = individual ? *individual : DefaultConnection();

  if (settings.IsUDP()) {
    if (!settings.FIPAdrAutodetect) settings.FTargetAddress = settings.FHost;
    else if (IP != 0) settings.FTargetAddress = IPv4Text(IP);
    else settings.FTargetAddress = IPv4Text(FContext.Applied.FBroadcastAddress);
  }

  TCommDriver* result = nullptr;
  if (settings.IsSerial() || settings.IsUDP()) {
    for (const auto& d : FDrivers) {
      if (d->FSettings.FDriverType != settings.FDriverType) continue;
      const bool match =
          settings.IsSerial()
              ? d->FSettings.FCommPort == settings.FCommPort
              : d->FSettings.FTargetAddress == settings.FTargetAddress &&
                    (d->FSettings.FRemoteUDPPort == settings.FRemoteUDPPort || settings.FIPAdrAutodetect) &&
                    d->FBoundAdapterAddress == AdapterAddress();
      if (match) result = d.get();
    }
    // Only the driver handed out gains a reference; counting every match
    // would keep the others alive forever.
    if (result) {
      ++result->FUseCount;
    } else {
      auto driver = std::make_unique<TCommDriver>(settings);
      driver->FUseCount = 1;
      driver->FBoundAdapterAddress = settings.IsUDP() ? AdapterAddress() : 0;
      result = driver.get();
      FDrivers.push_back(std::move(driver));
      FHooks.CreateTransport(*result, FCommunicating);
    }
  }
  FreeUnreferencedDrivers();
  FHooks.RefreshPortIndicators();
  return result;
}

void TOPCProject::FreeUnreferencedDrivers() {
  for (size_t i = FDrivers.size(); i-- > 0;) {
    if (FDrivers[i]->FUseCount > 0) continue;
    FHooks.FreeTransport(*FDrivers[i]);
    FDrivers.erase(FDrivers.begin() + static_cast<std::ptrdiff_t>(i));
  }
}

void TOPCProject::SwitchToDedicatedIPAddress() {
  for (auto& plc : FPLCs) {
    if (plc->FDedicatedIP == 0) continue;
    TCommDriver* driver = plc->FDriver;
    if (!driver) {
      plc->FDedicatedIP = 0;
      continue;
    }
    driver->FPreparePending = false;
    if (!driver->IsUDP()) {
      // Cleared so the box is not raised again on every later switch.
      plc->FDedicatedIP = 0;
      FContext.Boxes.ShowError(kDedicatedIPError);
      continue;
    }
    --driver->FUseCount;
    const uint32_t ip = plc->FDedicatedIP == TNorvoModel::kDedicatedIPDefault ? 0 : plc->FDedicatedIP;
    plc->FDriver = GetDriver(plc->FNAD, ip);
    plc->FDedicatedIP = 0;
  }
}

void TOPCProject::SetCommunication(bool Active) {
  FHooks.SetHourglass(true);
  if (Active && FContext.Applied.FAllowZeltaTakeOver) FHooks.ProbeSerialPorts();
  FCommunicating = Active;
  for (auto& d : FDrivers) {
    d->FActive = Active;
    if (Active) FHooks.StartTransport(*d);
    else FHooks.StopTransport(*d);
  }
  if (!Active) FHooks.Wait(kStopCommunicationWaitMs);
  FHooks.SetHourglass(false);
}

bool TOPCProject::UpdateMasterFlags() {
  for (auto& d : FDrivers) {
    d->FSettings.FHasMasterPLC = false;
    d->FSettings.FProjectsComplete = true;
    d->FSettings.FPollAsMaster = false;
  }
  bool anyMaster = false;
  for (const auto& plc : FPLCs) {
    if (plc->FIsMaster) {
      if (plc->FDriver) plc->FDriver->FSettings.FHasMasterPLC = true;
      anyMaster = true;
    }
    if (plc->FDriver && !(plc->FProject && plc->FProject->FComplete))
      plc->FDriver->FSettings.FProjectsComplete = false;
  }
  return anyMaster;
}

bool TOPCProject::RebuildDrivers() {
  TAppliedSettings& a = FContext.Applied;
  WriteConfiguration();
  if (FUseIndividualConnections) {
    for (auto& plc : FPLCs) {
      const TCommunicationSettings* conn = FindConnection(plc->FNAD);
      if (!conn) {
        FContext.Boxes.ShowError(kNoConnectionError);
        return false;
      }
      if (!plc->FDriver) {
        plc->FDriver = GetDriver(plc->FNAD, 0);
        continue;
      }
      const TCommunicationSettings& copy = plc->FDriver->FSettings;
      const bool differs = copy.FCommPort != conn->FCommPort || copy.FIPAdrAutodetect != conn->FIPAdrAutodetect ||
                           copy.FRemoteUDPPort != conn->FRemoteUDPPort || copy.FHost != conn->FHost ||
                           copy.FDriverType != conn->FDriverType || (conn->IsUDP() && a.FAdapterChanged);
      if (differs) {
        --plc->FDriver->FUseCount;
        plc->FDriver = GetDriver(plc->FNAD, 0);
      }
      if (plc->FDriver) {
        plc->FDriver->FSettings.FAutoMaster = conn->FAutoMaster;
        plc->FDriver->FSettings.FCommMaster = conn->FCommMaster;
        plc->FDriver->FSettings.FTimeOut = conn->FTimeOut;
      }
    }
  } else {
    // The old drivers may be freed by the first GetDriver: no PLC may keep
    // pointing at one meanwhile.
    for (auto& plc : FPLCs) {
      if (plc->FDriver) --plc->FDriver->FUseCount;
      plc->FDriver = nullptr;
    }
    for (auto& plc : FPLCs) {
      plc->FDriver = GetDriver(plc->FNAD, 0);
      if (!plc->FDriver) continue;
      plc->FDriver->FSettings.FAutoMaster = a.FMasterMode == 2;
      plc->FDriver->FSettings.FCommMaster = a.FMasterMode == 1;
      plc->FDriver->FSettings.FTimeOut = a.FMasterTimeOut;
    }
  }
  a.FAdapterChanged = false;
  FMasterPLCConfigured = UpdateMasterFlags();
  FHooks.RefreshPortIndicators();
  return true;
}
