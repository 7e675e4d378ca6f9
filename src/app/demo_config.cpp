#include "app/demo_config.h"

#include "common/message_box.h"
#include "core/connection_config.h"
#include "platform/registry.h"
#include "settings/settings.h"

namespace {

class TCollectingBoxes final : public IMessageBoxes {
 public:
  void ShowError(const std::string& text) override { FText = text; }
  void ShowWarning(const std::string& text) override { FText = text; }
  void ShowInformation(const std::string&) override {}
  TMsgAnswer AskYesNo(const std::string&) override { return TMsgAnswer::Yes; }
  std::string FText;
};

}  // namespace

bool WriteDemoConfiguration(const TDemoConfig& Config, bool Force, std::string& Error) {
  TRegistry probe(RegRoot::LocalMachine);
  if (!Force && probe.KeyExists(kConfigurationKeyPath)) return true;

  TConnectionConfig c;
  c.FProjectFiles = {Config.ProjectFile};
  c.FUseIndividualConnections = true;
  for (int nad : Config.NADs) {
    TCommunicationSettings s;
    s.FConnectionNAD = nad;
    s.FDriverType = kDriverUDP;
    s.FHost = Config.Host;
    s.FRemoteUDPPort = Config.RemotePort;
    s.FIPAdrAutodetect = false;
    s.FTimeOut = 1000;
    c.FConnections.push_back(s);
  }
  TCollectingBoxes boxes;
  bool armed = true;
  if (!WriteConfiguration(c, armed, boxes)) {
    Error = boxes.FText.empty() ? "cannot write the configuration" : boxes.FText;
    return false;
  }

  TSettings settings(boxes, armed);
  RegisterSettingsCatalogue(settings);
  settings.LoadFromRegistry();
  settings.SetValue("edMyNAD", Config.MyNAD);
  settings.SetIdValue(kIdAdapterName, Config.Adapter);
  settings.SetValue("cbLogSerialComm", Config.LogTraffic);
  settings.SetValue("cbLogCommActions", Config.LogTraffic);
  settings.SetValue("cbLogEventsToFile", Config.LogTraffic);
  if (!settings.SaveToRegistry(true, true)) {
    Error = boxes.FText.empty() ? "cannot write the settings" : boxes.FText;
    return false;
  }
  return true;
}
