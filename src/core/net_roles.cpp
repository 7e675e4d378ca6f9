#include "core/net_roles.h"

#include <cstdio>

#include "comm/comm_driver.h"
#include "core/opc_project.h"
#include "log/log_gates.h"
#include "platform/date_time.h"
#include "settings/applied_settings.h"

namespace {

constexpr uint32_t kPrepareDelayMs = 20;
constexpr uint32_t kPrepareDelayUdpMs = 60;

}  // namespace

bool PollsAsMaster(const TCommDriver& Driver, bool Individual, const TAppliedSettings& Applied,
                   bool MasterPLCPresent, bool AllProjectsComplete) {
  if (Driver.IsUDP()) return true;
  if (!Driver.IsSerial()) return false;
  if (Individual) {
    const TCommunicationSettings& s = Driver.FSettings;
    if (s.FAutoMaster) return !s.FHasMasterPLC && s.FProjectsComplete;
    return s.FCommMaster;
  }
  return Applied.FMasterMode == 1 || (Applied.FMasterMode == 2 && !MasterPLCPresent && AllProjectsComplete);
}

void DecideMasterRoles(TOPCProject& Project, const TAppliedSettings& Applied) {
  for (auto& d : Project.FDrivers)
    d->FSettings.FPollAsMaster = PollsAsMaster(*d, Project.FUseIndividualConnections, Applied,
                                               Project.FMasterPLCConfigured, Project.FAllProjectsComplete);
}

bool MasterTimeoutDue(const TCommDriver& Driver, uint32_t LastTxTick, uint32_t Tick, bool UdpBusy) {
  if (!Driver.FSettings.FPollAsMaster) return false;
  if (Driver.IsUDP() && UdpBusy) return false;
  const int32_t timeout = Driver.FSettings.FTimeOut;
  return timeout < 0 || TickDiff(Tick, LastTxTick) > static_cast<uint32_t>(timeout);
}

std::string MasterTimeoutLine(TDateTime Now, int Port) {
  int h = 0, m = 0, s = 0, ms = 0;
  DecodeTime(Now, h, m, s, ms);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d:%03d", h, m, s, ms);
  return std::string("Ma [") + buf + "] Master TIMEOUT Port: " + std::to_string(Port);
}

uint32_t PreparationDelayMs(const TCommDriver& Driver, bool EthFullBandwidth) {
  return Driver.IsUDP() && !EthFullBandwidth ? kPrepareDelayUdpMs : kPrepareDelayMs;
}

TNetRoles::TNetRoles(TServerComState& State, const TAppliedSettings& Applied, INetRoleHooks& Hooks,
                     const Clock& Time)
    : FState(State), FApplied(Applied), FHooks(Hooks), FTime(Time) {}

bool TNetRoles::IsPermissionFrame(const TQnetFrame& Frame) {
  return Frame.FMsgDir == kMsgDirRequest && Frame.FMsgTyp == kMsgTypAnswer && Frame.FLength >= 3 &&
         Frame.MsgCMD() == kCmdSendPermission;
}

bool TNetRoles::HandleFrame(TCommDriver& Driver, const TQnetFrame& Frame, bool Udp) {
  const auto sender = static_cast<int32_t>(Frame.FSenderNAD);
  const auto receiver = static_cast<int32_t>(Frame.FReceiverNAD);
  if (IsPermissionFrame(Frame)) {
    PermissionFrame(Driver, sender, receiver, Frame.FLength, Udp);
    return true;
  }
  if (Frame.FMsgDir == kMsgDirAnswer && Frame.FMsgTyp == kMsgTypSocket && Frame.FLength >= 3) {
    FState.SocketSeen();
    if (LogReceivedMessages(FApplied))
      FHooks.Log("serAction_OnReceiveSocket                SENDER: " + std::to_string(sender) +
                     "   RECEIVER: " + std::to_string(receiver) + "   LENGTH: " + std::to_string(Frame.FDataLength),
                 false);
    FHooks.DistributeSocketData(sender, receiver, Frame.FData, Frame.FDataLength);
    return true;
  }
  if (receiver == FApplied.FMyNAD) return false;  // the server's own answers and requests
  // Other stations' requests, answers and negative acknowledges.
  LogUnhandled("NotHandled Message", Frame, Frame.FMsgDir == kMsgDirRequest && Frame.FLength >= 3, Udp);
  return true;
}

void TNetRoles::PermissionFrame(TCommDriver& Driver, int32_t Sender, int32_t Receiver, uint16_t Length, bool Udp) {
  const uint32_t tick = FTime.TickCount();
  FState.PermissionSeen(Receiver, tick);
  const bool toServer = Receiver == FApplied.FMyNAD;
  if (toServer && !FPermissionHandledInEvent) {
    FPermissionHandledInEvent = true;
    FState.PermissionGranted(Sender, tick);
    HandleSendPermission(Driver, Sender, Receiver);
  } else if (LogLinkDiagnostics(FApplied)) {
    FHooks.Log(std::string(Udp ? "UDP " : "") + "UnHandled Message, Sender: " + std::to_string(Sender) +
                   ", Receiver: " + std::to_string(Receiver) + ", MsgDir: 0, MsgTyp: 0, MsgCMD: " +
                   std::to_string(kCmdSendPermission) + ", MsgLen: " + std::to_string(Length),
               true);
  }
  if (toServer) FHooks.BlinkRoot(kBlinkPermissionReceiver);
  FHooks.BlinkPLC(Sender, kBlinkPermissionSender);
  FHooks.BlinkPLC(Receiver, kBlinkPermissionReceiver);
}

void TNetRoles::HandleSendPermission(TCommDriver& Driver, int32_t Sender, int32_t Receiver) {
  if (LogReceivedCommands(FApplied))
    FHooks.Log("serAction_AnswerMasterSEND_PERM_request  SENDER: " + std::to_string(Sender) +
                   "   RECEIVER: " + std::to_string(Receiver),
               false);
  if (Driver.FPreparePending) {
    // The master times out on the server and moves on.
    if (LogCommActions(FApplied)) FHooks.Log("Second call denied in RxCh", true);
    return;
  }
  Driver.FPreparePending = true;
  FHooks.SetCallTo(Driver, TPermissionCall{Sender, Receiver, FTime.TickCount()});
}

void TNetRoles::LogUnhandled(const char* Prefix, const TQnetFrame& Frame, bool WithCommand, bool Udp) {
  if (!LogLinkDiagnostics(FApplied)) return;
  std::string line = std::string(Udp ? "UDP " : "") + Prefix + ", Sender: " + std::to_string(Frame.FSenderNAD) +
                     ", Receiver: " + std::to_string(Frame.FReceiverNAD) +
                     ", MsgDir: " + std::to_string(Frame.FMsgDir) + ", MsgTyp: " + std::to_string(Frame.FMsgTyp);
  if (WithCommand)
    line += ", MsgCMD: " + std::to_string(Frame.MsgCMD()) + ", MsgLen: " + std::to_string(Frame.FLength);
  FHooks.Log(line, true);
}
