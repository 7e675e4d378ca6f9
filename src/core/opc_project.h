// The project set: every loaded project, PLC and communication driver, the
// server's system tags and the orphan tags. Builds PLCs from the allocation
// file reader's records, names them, finds tags by item ID, reloads changed
// projects and starts and stops communication.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "comm/comm_driver.h"
#include "comm/comm_settings.h"
#include "core/connection_config.h"
#include "core/orphan_tags.h"
#include "core/zelta_project.h"
#include "model/norvo_model.h"
#include "model/orphan_list.h"
#include "model/same_text.h"
#include "model/sys_tags.h"

class Clock;
class IMessageBoxes;
class ITagTableView;
class TSessionLog;
struct TAppliedSettings;
struct TLoadedNorvo;

inline constexpr const char* kAllocFileMissing = "Allocation file does not exist ";
inline constexpr const char* kReloadingProject = "Reloading Zelta project ";
inline constexpr const char* kClientConnectedQuestion = "OPC client connected to this project, are you sure to continue";
inline constexpr const char* kNoConnectionError = "failed to find communication issues";
inline constexpr const char* kDedicatedIPError = "SwitchToDedicatedIPAddress failed: expected driver type: UDP";
inline constexpr int32_t kAutoReloadStartMs = 2000;
inline constexpr int32_t kAutoReloadPeriodMs = 1000;
inline constexpr uint32_t kStopCommunicationWaitMs = 70;

// What the project set needs from the parts built later (transports, the
// window's tables and tree). Every hook does nothing by default.
class IProjectSetHooks {
 public:
  virtual ~IProjectSetHooks() = default;
  // A new driver: create its transport object (serial port object, or UDP
  // socket bound to the chosen adapter). Communicating says whether the
  // set is running, so a driver made mid-run can start at once.
  virtual void CreateTransport(TCommDriver& /*Driver*/, bool /*Communicating*/) {}
  // Called before the driver is freed: close and free the transport, and
  // withdraw anything queued for the driver.
  virtual void FreeTransport(TCommDriver& /*Driver*/) {}
  virtual void StartTransport(TCommDriver& /*Driver*/) {}
  virtual void StopTransport(TCommDriver& /*Driver*/) {}
  // Before starting, when the programming tool may take the serial port over.
  virtual void ProbeSerialPorts() {}
  virtual void SetHourglass(bool /*On*/) {}
  // The pause after stopping lets the ports settle; tests skip it.
  virtual void Wait(uint32_t /*Ms*/) {}
  // The project tree.
  virtual void ClearBlinking() {}
  virtual void RefreshPortIndicators() {}
  virtual void FocusRootIfFocusGone() {}
  // A new PLC, before its tags are added: the window may give it a view
  // (FView) and show its system tags.
  virtual void PLCCreated(TNorvoModel& /*PLC*/) {}
  virtual void SocketCreated(TQNETSocket& /*Socket*/) {}
  // Before the PLC's sockets and tags go; the window drops its tables.
  virtual void PLCRemoving(TNorvoModel& /*PLC*/) {}
  // Colours and row order kept across a reload of the project.
  virtual void SaveColorsAndOrder(TZeltaProject& /*Project*/) {}
  virtual void RestoreColorsAndOrder() {}
  virtual bool NameWarningVisible() const { return false; }
};

// Everything the project set borrows; all must outlive it. Log and Hooks
// may be null.
struct TProjectSetContext {
  TAppliedSettings& Applied;
  IMessageBoxes& Boxes;
  const Clock& Time;
  TSessionLog* Log = nullptr;
  IProjectSetHooks* Hooks = nullptr;
};

class TOPCProject final : public IOrphanList {
 public:
  explicit TOPCProject(TProjectSetContext Context, ITagTableView* SysView = nullptr);
  ~TOPCProject() override;
  TOPCProject(const TOPCProject&) = delete;
  TOPCProject& operator=(const TOPCProject&) = delete;

  // Loads every project (false) or only those whose files changed (true).
  void Reload(bool ChangedOnly);
  // Server system tags first, then the PLC named by the text before the
  // second dot: its system tags, then its tags; case ignored; orphans never.
  TNorvoVar* FindItem(std::string_view ItemID) const;
  TNorvoModel* FindPLCByNAD(int NAD) const;
  TNorvoModel* FindPLCByName(std::string_view Name) const;
  TZeltaProject* FindProjectByFile(std::string_view Path) const;
  TNorvoVar* FindOrphan(std::string_view ItemID) const { return FOrphanTags.Find(ItemID); }
  // Exclude is the PLC being renamed (null for a new one).
  std::string MakePLCName(int NAD, const std::string& Unit, const TNorvoModel* Exclude,
                          const std::string& ProgramName) const;
  // Frees the project's PLCs and takes it out of FProjects.
  std::unique_ptr<TZeltaProject> RemoveProject(TZeltaProject* Project);
  std::unique_ptr<TNorvoModel> RemovePLC(TNorvoModel* PLC);
  // A tag listed by a PLC or an orphan: orphaned while referenced, held
  // until its request ends while in flight, else freed.
  void ReleaseTag(TNorvoVar* Tag);
  // Frees (or orphans) released tags whose request has ended. The command
  // layer calls it once a request's tags have left its request list.
  void FreeDeletePendingTags();
  // Find or create the driver for a PLC. IP (host order, 0 = none) is the
  // address a UDP PLC answered from.
  TCommDriver* GetDriver(int NAD, uint32_t IP);
  void FreeUnreferencedDrivers();
  TCommunicationSettings DefaultConnection() const;
  TCommunicationSettings* FindConnection(int NAD);
  void ClearConnections() { FConnections.clear(); }
  void SwitchToDedicatedIPAddress();
  void SetCommunication(bool Active);
  // True when some PLC is configured as network master.
  bool UpdateMasterFlags();
  // After the connection settings or the adapter changed; false (after an
  // error box) when a PLC has no individual connection.
  bool RebuildDrivers();

  // The operator's commands; the window supplies the chosen files.
  void acAddProjectExecute(const std::vector<std::string>& Files);
  void acDeleteProjectExecute(TZeltaProject* Project);
  void acResetExecute();

  // The view timer's share: delete-pending tags and the automatic reload.
  void ViewTick(uint32_t IntervalMs);

  void ReadConfiguration();
  bool WriteConfiguration();

  // A socket frame seen on the network: every other PLC's input socket
  // from the sender (when it is addressed or broadcast, receiver 0) and the
  // sender's own output socket to the receiver take the payload.
  void DistributeSocketData(int SenderNAD, int ReceiverNAD, const uint8_t* Data, size_t Length);

  bool ContainsPLC(const TNorvoModel* PLC) const;
  size_t TagCount() const;

  // IOrphanList
  std::unique_ptr<TNorvoVar> TakeOrphan(std::string_view ItemID) override;
  void AddOrphan(std::unique_ptr<TNorvoVar> Tag) override;

  ITagTableView* FSysView = nullptr;  // not owned
  std::vector<std::unique_ptr<TNorvoModel>> FPLCs;  // load order
  std::vector<std::unique_ptr<TCommDriver>> FDrivers;
  std::vector<std::unique_ptr<TZeltaProject>> FProjects;
  TOrphanTags FOrphanTags;
  std::vector<std::string> FProjectFiles;  // compared without regard to case
  std::vector<TCommunicationSettings> FConnections;
  bool FUseIndividualConnections = false;
  std::vector<std::unique_ptr<TNorvoVar>> FSysTags;
  TServerSysTags FSys;
  TNorvoVar* FPriorityNADTag = nullptr;
  bool FOrphansToFree = false;
  bool FCommunicating = false;
  bool FAllProjectsComplete = false;

  // Released while part of the request in flight; freed once it ends.
  std::vector<std::unique_ptr<TNorvoVar>> FDeletePendingTags;
  // The last UpdateMasterFlags answer of a reload.
  bool FMasterPLCConfigured = false;
  int32_t FAutoReloadCountdown = kAutoReloadStartMs;
  // Tag names over the limit, for the warning window; pending until shown.
  std::vector<std::string> FNameWarningLines;
  bool FNameWarningPending = false;

 private:
  void ReleaseOwned(std::unique_ptr<TNorvoVar> Tag);
  void BuildPLC(TZeltaProject& Project, TLoadedNorvo& Program, int NAD, bool& warnedInProject);
  void IndexPLC(TNorvoModel& PLC);
  void UnindexPLC(TNorvoModel& PLC);
  void UnindexTag(TNorvoVar& Tag);
  void StopOnce(bool& stopped);
  TConnectionConfig Config() const;
  uint32_t AdapterAddress() const;

  TProjectSetContext FContext;
  IProjectSetHooks FNoHooks;
  IProjectSetHooks& FHooks;
  // Item ID (case ignored) to the tag FindItem answers; server system tags apart
  // because they are searched first.
  template <class T>
  using TextMap = std::unordered_map<std::string, T*, CaseInsensitiveHash, CaseInsensitiveEqual>;
  TextMap<TNorvoVar> FSysIndex;
  TextMap<TNorvoVar> FItemIndex;
  // PLC name to the first PLC of that name.
  TextMap<TNorvoModel> FNameIndex;
};

// The part of an item ID before its second dot, or nullopt-like empty view
// with found false when it has fewer than two dots.
bool PLCNameOfItemID(std::string_view ItemID, std::string_view& Name);
// A program name with the characters that cannot stand in an item ID
// replaced by '_'.
std::string SafeProgramName(std::string_view Name);
