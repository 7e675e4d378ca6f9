#include "core/project_set_hooks.h"

#include "core/controller.h"

void TProjectSetServerHooks::CreateProjectSet() {
  if (FProject || !FApplied) return;
  FProject = std::make_unique<TOPCProject>(TProjectSetContext{*FApplied, FBoxes, FTime, FLog, FProjectHooks});
}

void TProjectSetServerHooks::ReadConfiguration() {
  if (FProject) FProject->ReadConfiguration();
}

void TProjectSetServerHooks::LoadAllProjects() {
  if (FProject) FProject->Reload(false);
}

int TProjectSetServerHooks::PlcCount() const { return FProject ? static_cast<int>(FProject->FPLCs.size()) : 0; }

bool TProjectSetServerHooks::RebuildDrivers() { return FProject ? FProject->RebuildDrivers() : true; }

void TProjectSetServerHooks::ReloadAllProjects() {
  if (FProject) FProject->Reload(false);
}

void TProjectSetServerHooks::SetCommunication(bool On) {
  if (FProject) FProject->SetCommunication(On);
}

void TProjectSetServerHooks::ViewTimerWork() {
  if (FProject) FProject->ViewTick(kViewTimerInterval);
}

bool TProjectSetServerHooks::NameWarningPending() const { return FProject && FProject->FNameWarningPending; }

void TProjectSetServerHooks::WriteConfiguration() {
  if (FProject) FProject->WriteConfiguration();
}

void TProjectSetServerHooks::RemoveAllProjects() {
  if (!FProject) return;
  while (!FProject->FProjects.empty()) FProject->RemoveProject(FProject->FProjects.back().get());
  FProject->FreeUnreferencedDrivers();
}
