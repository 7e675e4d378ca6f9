#include "settings/applied_settings.h"


#include <algorithm>

#include "platform/adapters.h"
#include "settings/settings.h"

namespace {

struct RLimit {
  const char* Control;
  int64_t Low;
  int64_t High;
};

constexpr int64_t kUnlimited = INT64_MAX;

// Ranges that apply enforces in the store itself.
constexpr RLimit kLimits[] = {
    {"edMaxBlockSize", 0, 1024},   {"edMinBlockUsage", 0, 100}, {"edMasterTimeOut", 300, 100000},
    {"edMyNAD", 0, kUnlimited},    {"edBADtime", 0, kUnlimited}, {"edUncertainTime", 0, kUnlimited},
};

}  // namespace

TSettingsApplier::TSettingsApplier(TSettings& settings, TAppliedSettings& applied, const INetworkAdapters& adapters,
                                   IApplySettingsHooks& hooks)
    : FSettings(settings), FApplied(applied), FAdapters(adapters), FHooks(hooks) {}

void TSettingsApplier::RegisterSettings() {
  RegisterSettingsCatalogue(FSettings);
  FSettings.LoadFromRegistry();
  FApplied.FAppliedTagNameFormat = Int("cbTagNameFormat");
  FApplied.FAppliedAdapterName = FSettings.GetIdValue(kIdAdapterName).AsString();
  ApplySettings();
}

bool TSettingsApplier::Bool(const char* control) const { return FSettings.GetValue(control).AsBool(); }

int32_t TSettingsApplier::Int(const char* control) const {
  return FSettings.GetValue(control).AsInteger(FSettings.GetDefault(control).AsInteger());
}

void TSettingsApplier::EnforceLimits() {
  // Edit box text that is no number would stop every later step; it falls
  // back to the default and is written back at the next save.
  for (const auto& d : FSettings.Descriptors()) {
    if (d.Control && d.Control->Kind == TControlKind::EditBox && !d.Value.TryInteger())
      FSettings.SetValue(d.Control->Name, d.DefaultValue);
  }
  for (const auto& limit : kLimits) {
    const auto value = FSettings.GetValue(limit.Control).TryInteger();
    if (!value) continue;
    if (*value > limit.High) FSettings.SetValue(limit.Control, static_cast<int32_t>(limit.High));
    else if (*value < limit.Low) FSettings.SetValue(limit.Control, static_cast<int32_t>(limit.Low));
  }
}

void TSettingsApplier::ApplySettings() {
  TAppliedSettings& a = FApplied;

  EnforceLimits();

  a.FEnableUncertain = Bool("cbEnableUncertain");
  a.FEnableBad = Bool("cbEnableBAD");
  a.FAutoReload = Bool("cbAutoReloadOfProjects");
  a.FHideArrayElements = Bool("cbHideArrayElementsInBrowser");
  a.FShowTrayIcon = Bool("cbShowTrayIcon");

  a.FTagNameWarnLen = Bool("cbWarnTagNameLen") ? Int("edTagNameMaxLen") : -1;

  a.FMaxBlockSize = Int("edMaxBlockSize");
  a.FMinBlockUsage = Int("edMinBlockUsage");
  a.FMyNAD = Int("edMyNAD");
  a.FMasterTimeOut = Int("edMasterTimeOut");

  a.FPeriodicRTCSync = Bool("cbPeriodicUpdateRTC");
  a.FQualityIndependentSyncRead = Bool("cbQualityIndependetSyncRead");
  a.FHighPriority = Bool("cbUseHighPriority");
  a.FBackwardCompatible = Bool("cbNorvoOneCompatible");
  a.FDoNotAutoConnect = Bool("cbDoNotAutoConnect");
  a.FNewPortPerMessage = Bool("cbNewPortForEachMessage");
  a.FBackgroundRefreshTags = Bool("cbBackgroundRefreshTags");
  a.FBackgroundRefreshStatus = Bool("cbBackGroundRefreshPLCStatus");
  a.FUncertainTime = Int("edUncertainTime");
  a.FBadTime = Int("edBADtime");
  a.FAnimatedCom = Bool("cbDisplayAnimatedCom");
  a.FAllowZeltaTakeOver = Bool("cbAutoComPortWithZelta");
  a.FTagNameFormat = Int("cbTagNameFormat");
  a.FEthFullBandwidth = Bool("cbEthUseFullBandwidth");

  const int32_t mode = FSettings.GetIdValue(kIdMasterMode).AsInteger();
  a.FMasterMode = (mode == 1 || mode == 2) ? mode : 0;

  a.FAdapterName = FSettings.GetIdValue(kIdAdapterName).AsString();
  SelectAdapter(a.FAdapterName);
  if (a.FAdapterName != a.FAppliedAdapterName) {
    a.FAppliedAdapterName = a.FAdapterName;
    a.FAdapterChanged = true;
    FHooks.SetConnectionChanged(true);
  }

  a.FUIPassword = FSettings.GetIdValue(kIdUIPassword).AsString();
  FHooks.SetServerShutdownEnabled(a.FUIPassword.empty());

  a.FPLCPassword = static_cast<uint16_t>(FSettings.GetIdValue(kIdPLCPassword).AsInteger());

  const bool legend = Bool("cbViewLegend");
  FHooks.ShowLegend(legend);
  FSettings.SetValue("cbViewLegend", legend);

  a.FDefSerialPort = Int("cbDefSerialPort") + 1;
  a.FSerialSelected = Bool("cbHiddenSerialOn");

  if (FHooks.ProjectSetExists()) {
    if (FHooks.CommActive()) {
      FHooks.SetCommunication(false);
      if (FHooks.ConnectionChanged()) {
        FHooks.SetConnectionChanged(false);
        if (!FHooks.RebuildDrivers()) return;
      }
      FHooks.SetCommunication(true);
    } else if (FHooks.ConnectionChanged()) {
      FHooks.SetConnectionChanged(false);
      if (!FHooks.RebuildDrivers()) return;
    }
  }

  a.FLogSerialComm = Bool("cbLogSerialComm");
  a.FLogDebugData = Bool("cbLogDebugTags");
  a.FLogCommActions = Bool("cbLogCommActions");
  a.FLogTxMessages = Bool("cbLogTxOnly");
  a.FLogToFile = Bool("cbLogEventsToFile");
  a.FLogRxMessages = Bool("cbLogRxEventsOnly");
  FHooks.ApplyLogSettings();

  FHooks.UpdateTrayIcon();

  if (a.FTagNameFormat != a.FAppliedTagNameFormat) {
    a.FAppliedTagNameFormat = a.FTagNameFormat;
    if (FHooks.ProjectSetExists()) FHooks.ReloadAllProjects();
  }
}

void TSettingsApplier::SelectAdapter(const std::string& name) {
  TAppliedSettings& a = FApplied;
  a.FBroadcastAddress = kLoopbackAddress;
  a.FLocalAddress = TIPv4SocketAddress{};
  // Cleared here so that an adapter that appears later is taken up.
  a.FNoAdapter = false;

  const auto adapters = FAdapters.List();
  if (!adapters || adapters->empty()) {
    a.FNoAdapter = true;
    return;
  }
  const auto chosen = std::find_if(adapters->begin(), adapters->end(),
                                   [&](const TNetworkAdapter& adapter) { return name.empty() || adapter.Name == name; });
  if (chosen == adapters->end()) return;  // the named adapter is gone: no local address

  if (name.empty()) {
    FSettings.SetIdValue(kIdAdapterName, chosen->Name);
    FSettings.SaveIdSettings();
  }
  a.FLocalAddress = TIPv4SocketAddress{true, chosen->Address, 0};
  a.FBroadcastAddress = BroadcastOf(chosen->Address, chosen->Mask);
}
