// The server's roles on a Q-net line: network master, polling whenever the
// line is free and paced by its own timeout, or slave, sending only when the
// network master grants it the permission. Also what the server makes of
// permissions and of the traffic between other stations.
#pragma once

#include <cstdint>
#include <string>

#include "comm/qnet_frame.h"
#include "core/server_com_state.h"
#include "platform/clock.h"

class TCommDriver;
class TOPCProject;
struct TAppliedSettings;

inline constexpr uint8_t kCmdSendPermission = 0x44;
// Project-tree blink images of a permission.
inline constexpr int kBlinkPermissionReceiver = 7;
inline constexpr int kBlinkPermissionSender = 8;

// Whether the server polls the driver's line as network master.
// Individual: each driver has a connection of its own; otherwise the
// shared connection with the mode of the settings.
bool PollsAsMaster(const TCommDriver& Driver, bool Individual, const TAppliedSettings& Applied,
                   bool MasterPLCPresent, bool AllProjectsComplete);
// Stores the decision in every driver's FPollAsMaster.
void DecideMasterRoles(TOPCProject& Project, const TAppliedSettings& Applied);

// The master timer's pacing: the next step is due once more than the
// connection's FTimeOut has passed since the last frame sent (at once for
// a negative timeout), unless a UDP send or receive is still running.
bool MasterTimeoutDue(const TCommDriver& Driver, uint32_t LastTxTick, uint32_t Tick, bool UdpBusy);
// "Ma [hh:mm:ss:zzz] Master TIMEOUT Port: n".
std::string MasterTimeoutLine(TDateTime Now, int Port);
// How long a pending preparation waits before it runs.
uint32_t PreparationDelayMs(const TCommDriver& Driver, bool EthFullBandwidth);

// A preparation asked for by a permission: the granting master, the NAD
// the permission is for, and when it came.
struct TPermissionCall {
  int32_t FGrantorNAD = -1;
  int32_t FTargetNAD = 0;
  uint32_t FTick = 0;
};

// What the roles need from the drivers' scheduler state, the log and the
// project tree.
class INetRoleHooks {
 public:
  virtual ~INetRoleHooks() = default;
  // The driver's FPreparePending has just been set: note the call.
  virtual void SetCallTo(TCommDriver& Driver, const TPermissionCall& Call) = 0;
  virtual void Log(const std::string& /*Line*/, bool /*Important*/) {}
  virtual void BlinkRoot(int /*Image*/) {}
  virtual void BlinkPLC(int32_t /*NAD*/, int /*Image*/) {}
  // Socket data seen between any two stations.
  virtual void DistributeSocketData(int32_t /*Sender*/, int32_t /*Receiver*/, const uint8_t* /*Data*/,
                                    size_t /*Length*/) {}
};

class TNetRoles {
 public:
  // All references outlive the object.
  TNetRoles(TServerComState& State, const TAppliedSettings& Applied, INetRoleHooks& Hooks, const Clock& Time);

  // A receive event begins on some driver: its chunk may grant the
  // permission once more.
  void BeginReceiveEvent() { FPermissionHandledInEvent = false; }

  // A valid frame the command layer does not answer itself: permissions,
  // socket data, and everything addressed to other stations. True when it
  // was taken here.
  bool HandleFrame(TCommDriver& Driver, const TQnetFrame& Frame, bool Udp);
  // A permission frame (direction 0, type 0, L >= 3, command 0x44).
  void PermissionFrame(TCommDriver& Driver, int32_t Sender, int32_t Receiver, uint16_t Length, bool Udp);
  void HandleSendPermission(TCommDriver& Driver, int32_t Sender, int32_t Receiver);

  static bool IsPermissionFrame(const TQnetFrame& Frame);

 private:
  void LogUnhandled(const char* Prefix, const TQnetFrame& Frame, bool WithCommand, bool Udp);

  TServerComState& FState;
  const TAppliedSettings& FApplied;
  INetRoleHooks& FHooks;
  const Clock& FTime;
  bool FPermissionHandledInEvent = false;
};
