// The main window's server steps that belong to the project set: created at
// the first show, configuration read and written, projects loaded, reloaded
// and removed, communication switched. The window's remaining steps keep
// the harmless defaults until their parts join.
#pragma once

#include <memory>

#include "core/main_hooks.h"
#include "core/opc_project.h"

class TProjectSetServerHooks : public TServerHooks {
 public:
  // Both must outlive the hooks.
  TProjectSetServerHooks(IMessageBoxes& Boxes, const Clock& Time) : FBoxes(Boxes), FTime(Time) {}

  // The controller's applied settings (it owns them), before its first show.
  void Attach(TAppliedSettings& Applied) { FApplied = &Applied; }
  // Optional; set before the project set is created.
  void SetSessionLog(TSessionLog* Log) { FLog = Log; }
  void SetProjectSetHooks(IProjectSetHooks* Hooks) { FProjectHooks = Hooks; }

  TOPCProject* ProjectSet() { return FProject.get(); }

  void CreateProjectSet() override;
  bool ProjectSetExists() const override { return FProject != nullptr; }
  void ReadConfiguration() override;
  void LoadAllProjects() override;
  int PlcCount() const override;
  bool RebuildDrivers() override;
  void ReloadAllProjects() override;
  void SetCommunication(bool On) override;
  void ViewTimerWork() override;
  bool NameWarningPending() const override;
  void WriteConfiguration() override;
  void RemoveAllProjects() override;

 private:
  IMessageBoxes& FBoxes;
  const Clock& FTime;
  TAppliedSettings* FApplied = nullptr;  // not owned
  TSessionLog* FLog = nullptr;          // not owned
  IProjectSetHooks* FProjectHooks = nullptr;  // not owned
  std::unique_ptr<TOPCProject> FProject;
};
