#include "comm/comm_driver.h"

TCommDriver::TCommDriver(const TCommunicationSettings& Settings) : FSettings(Settings) {
  FPortCaption = IsSerial() ? "COM " + std::to_string(FSettings.FCommPort) : std::string("ETH");
}
