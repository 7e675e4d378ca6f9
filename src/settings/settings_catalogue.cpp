#include "settings/settings.h"

void RegisterSettingsCatalogue(TSettings& s) {
  constexpr auto Check = TControlKind::CheckBox;
  constexpr auto Edit = TControlKind::EditBox;
  constexpr auto List = TControlKind::DropDownList;

  // The order is the registration order the dialog's controls rely on.
  s.AddControlSetting("cbShowTrayIcon", Check, true);
  s.AddControlSetting("cbEnableUncertain", Check, true);
  s.AddControlSetting("cbEnableBAD", Check, true);
  s.AddControlSetting("cbQualityIndependetSyncRead", Check, false);
  s.AddControlSetting("cbForcedOnChange", Check, false);
  s.AddControlSetting("cbLogSerialComm", Check, false);
  s.AddControlSetting("cbLogDebugTags", Check, false);
  s.AddControlSetting("cbLogRxEventsOnly", Check, false);
  s.AddControlSetting("cbLogTxOnly", Check, false);
  s.AddControlSetting("cbLogCommActions", Check, false);
  s.AddControlSetting("cbLogEventsToFile", Check, false);
  s.AddControlSetting("cbDefSerialPort", List, 0);
  s.AddControlSetting("cbWarnTagNameLen", Check, false);
  s.AddControlSetting("edTagNameMaxLen", Edit, 31);
  s.AddControlSetting("edMaxBlockSize", Edit, 512);
  s.AddControlSetting("edMinBlockUsage", Edit, 5);
  s.AddControlSetting("edMyNAD", Edit, 100);
  s.AddControlSetting("edMasterTimeOut", Edit, 1000);
  s.AddControlSetting("cbAutoReloadOfProjects", Check, true);
  s.AddControlSetting("cbHideArrayElementsInBrowser", Check, true);
  s.AddControlSetting("cbUseHighPriority", Check, false);
  s.AddControlSetting("cbNorvoOneCompatible", Check, false);
  s.AddControlSetting("cbDoNotAutoConnect", Check, false);
  s.AddControlSetting("cbNewPortForEachMessage", Check, false);
  s.AddControlSetting("cbBackgroundRefreshTags", Check, true);
  s.AddControlSetting("cbPeriodicUpdateRTC", Check, true);
  s.AddControlSetting("cbBackGroundRefreshPLCStatus", Check, true);
  s.AddControlSetting("edUncertainTime", Edit, 5);
  s.AddControlSetting("edBADtime", Edit, 10);
  s.AddControlSetting("cbDisplayAnimatedCom", Check, true);
  s.AddControlSetting("cbViewLegend", Check, true);
  s.AddControlSetting("cbAutoComPortWithZelta", Check, true);
  s.AddControlSetting("cbHiddenSerialOn", Check, true);
  s.AddControlSetting("cbTagNameFormat", List, 0);
  s.AddControlSetting("cbEthUseFullBandwidth", Check, false);

  // Tag table column widths in pixels, by column kind; 108 comes last.
  s.AddIdSetting(100, 140);
  s.AddIdSetting(101, 150);
  s.AddIdSetting(102, 100);
  s.AddIdSetting(103, 180);
  s.AddIdSetting(104, 70);
  s.AddIdSetting(105, 70);
  s.AddIdSetting(106, 80);
  s.AddIdSetting(107, 90);
  s.AddIdSetting(109, 70);
  s.AddIdSetting(110, 750);
  s.AddIdSetting(108, 55);
  s.AddIdSetting(kIdProjectFolder, "");
  s.AddIdSetting(kIdMasterMode, 2);
  s.AddIdSetting(kIdAdapterName, "");
  s.AddIdSetting(kIdUIPassword, "");
  s.AddIdSetting(kIdPLCPassword, 0);
}
