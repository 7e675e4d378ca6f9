#include "core/opc_project.h"

#include <algorithm>
#include <exception>

#include "common/message_box.h"
#include "log/session_log.h"
#include "model/load_project.h"
#include "model/preserve_color_and_order.h"
#include "model/same_text.h"
#include "model/tag_view.h"
#include "platform/clock.h"
#include "settings/applied_settings.h"

namespace {

// Space ! " # % & ' ( ) * + , - . / : < = > ? \ { | }
constexpr bool IsReplacedInProgramName(unsigned char c) {
  return (c >= 32 && c <= 35) || (c >= 37 && c <= 47) || c == 58 || (c >= 60 && c <= 63) || c == 92 ||
         (c >= 123 && c <= 125);
}

std::string FileNameOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool PLCNameOfItemID(std::string_view ItemID, std::string_view& Name) {
  const size_t first = ItemID.find('.');
  if (first == std::string_view::npos) return false;
  const size_t second = ItemID.find('.', first + 1);
  if (second == std::string_view::npos) return false;
  Name = ItemID.substr(0, second);
  return true;
}

std::string SafeProgramName(std::string_view Name) {
  std::string out(Name);
  for (char& c : out)
    if (IsReplacedInProgramName(static_cast<unsigned char>(c))) c = '_';
  return out;
}

TOPCProject::TOPCProject(TProjectSetContext Context, ITagTableView* SysView)
    : FSysView(SysView), FContext(Context), FHooks(Context.Hooks ? *Context.Hooks : FNoHooks) {
  CreateServerSysTags(FSysTags, FSysView, FSys);
  FPriorityNADTag = FSys.FCommnicationPriorityNAD;
  for (const auto& t : FSysTags) FSysIndex.emplace(t->FItemID, t.get());
}

TOPCProject::~TOPCProject() {
  for (auto it = FProjects.rbegin(); it != FProjects.rend(); ++it) {
    while (true) {
      auto plc = std::find_if(FPLCs.begin(), FPLCs.end(), [&](const auto& p) { return p->FProject == it->get(); });
      if (plc == FPLCs.end()) break;
      RemovePLC(plc->get());
    }
  }
  // PLCs, projects and drivers go before the tags that clients may still
  // count; nothing may point at a freed driver when its transport closes.
  FPLCs.clear();
  FProjects.clear();
  for (auto& d : FDrivers) FHooks.FreeTransport(*d);
  FDrivers.clear();
}

// ---- names and lookups ----------------------------------------------------

std::string TOPCProject::MakePLCName(int NAD, const std::string& Unit, const TNorvoModel* Exclude,
                                     const std::string& ProgramName) const {
  const std::string part = FContext.Applied.FTagNameFormat == 1
                               ? SafeProgramName(ProgramName.empty() ? std::string("Prog") : ProgramName)
                               : std::to_string(NAD);
  const auto taken = [&](const std::string& name) {
    const auto it = FNameIndex.find(std::string_view(name));
    if (it != FNameIndex.end() && it->second != Exclude) return true;
    if (it == FNameIndex.end()) return false;
    // The excluded PLC holds the index entry; another may share its name.
    return std::any_of(FPLCs.begin(), FPLCs.end(),
                       [&](const auto& p) { return p.get() != Exclude && SameText(p->FName, name); });
  };
  std::string name = Unit + "." + part;
  for (int n = 1; taken(name); ++n) name = Unit + "." + part + "_" + std::to_string(n);
  return name;
}

TNorvoVar* TOPCProject::FindItem(std::string_view ItemID) const {
  if (const auto it = FSysIndex.find(ItemID); it != FSysIndex.end()) return it->second;
  std::string_view plcName;
  if (!PLCNameOfItemID(ItemID, plcName)) return nullptr;
  const auto it = FItemIndex.find(ItemID);
  return it == FItemIndex.end() ? nullptr : it->second;
}

TNorvoModel* TOPCProject::FindPLCByNAD(int NAD) const {
  for (const auto& p : FPLCs)
    if (p->FNAD == NAD) return p.get();
  return nullptr;
}

TNorvoModel* TOPCProject::FindPLCByName(std::string_view Name) const {
  const auto it = FNameIndex.find(Name);
  return it == FNameIndex.end() ? nullptr : it->second;
}

TZeltaProject* TOPCProject::FindProjectByFile(std::string_view Path) const {
  const std::string key = LowerText(Path);
  for (const auto& p : FProjects)
    if (LowerText(p->FAllocFileItem) == key) return p.get();
  return nullptr;
}

void TOPCProject::DistributeSocketData(int SenderNAD, int ReceiverNAD, const uint8_t* Data, size_t Length) {
  for (const auto& plc : FPLCs) {
    TQNETSocket* socket = nullptr;
    if (plc->FNAD != SenderNAD) {
      if (ReceiverNAD == plc->FNAD || ReceiverNAD == 0) socket = plc->FindSocket(true, SenderNAD);
    } else {
      socket = plc->FindSocket(false, ReceiverNAD);
    }
    if (socket) socket->ReceiveData(Length, Data);
  }
}

bool TOPCProject::ContainsPLC(const TNorvoModel* PLC) const {
  return std::any_of(FPLCs.begin(), FPLCs.end(), [PLC](const auto& p) { return p.get() == PLC; });
}

size_t TOPCProject::TagCount() const {
  size_t n = 0;
  for (const auto& p : FPLCs) n += p->FTags.size();
  return n;
}

// Only entries FindItem's rule can reach are filed: the text before the
// second dot must name this PLC (PLC names are unique without regard to
// case), and within the PLC system tags come first, then the first tag.
void TOPCProject::IndexPLC(TNorvoModel& PLC) {
  if (!FNameIndex.emplace(PLC.FName, &PLC).second) return;  // a later namesake is never searched
  const auto file = [&](TNorvoVar& tag) {
    std::string_view name;
    if (!PLCNameOfItemID(tag.FItemID, name) || !SameText(name, PLC.FName)) return;
    FItemIndex.emplace(tag.FItemID, &tag);
  };
  for (auto& t : PLC.FSysTags) file(*t);
  for (auto& t : PLC.FTags) file(*t);
}

void TOPCProject::UnindexPLC(TNorvoModel& PLC) {
  const auto drop = [&](TNorvoVar& tag) {
    const auto it = FItemIndex.find(std::string_view(tag.FItemID));
    if (it != FItemIndex.end() && it->second == &tag) FItemIndex.erase(it);
  };
  for (auto& t : PLC.FSysTags) drop(*t);
  for (auto& t : PLC.FTags) drop(*t);
  const auto it = FNameIndex.find(std::string_view(PLC.FName));
  if (it == FNameIndex.end() || it->second != &PLC) return;
  FNameIndex.erase(it);
  // A namesake further down the list now answers for the name.
  for (const auto& p : FPLCs)
    if (p.get() != &PLC && SameText(p->FName, PLC.FName)) {
      IndexPLC(*p);
      break;
    }
}

// One tag leaves a PLC that stays: a later tag with the same ID in that PLC
// takes over its entry.
void TOPCProject::UnindexTag(TNorvoVar& Tag) {
  const auto it = FItemIndex.find(std::string_view(Tag.FItemID));
  if (it == FItemIndex.end() || it->second != &Tag) return;
  FItemIndex.erase(it);
  if (!Tag.FOwner) return;
  for (auto* list : {&Tag.FOwner->FSysTags, &Tag.FOwner->FTags})
    for (auto& t : *list)
      if (t.get() != &Tag && SameText(t->FItemID, Tag.FItemID)) {
        FItemIndex.emplace(t->FItemID, t.get());
        return;
      }
}

// ---- orphans and release --------------------------------------------------

std::unique_ptr<TNorvoVar> TOPCProject::TakeOrphan(std::string_view ItemID) {
  TNorvoVar* tag = FOrphanTags.Find(ItemID);
  return tag ? FOrphanTags.Take(tag) : nullptr;
}

void TOPCProject::AddOrphan(std::unique_ptr<TNorvoVar> Tag) { FOrphanTags.Add(std::move(Tag)); }

void TOPCProject::ReleaseTag(TNorvoVar* Tag) {
  if (!Tag) return;
  if (auto owned = FOrphanTags.Take(Tag)) return ReleaseOwned(std::move(owned));
  for (auto& held : FDeletePendingTags)
    if (held.get() == Tag) {
      std::unique_ptr<TNorvoVar> owned = std::move(held);
      std::erase(FDeletePendingTags, nullptr);
      return ReleaseOwned(std::move(owned));
    }
  if (TNorvoModel* owner = Tag->FOwner) {
    UnindexTag(*Tag);
    for (auto& s : owner->FSockets) s->RemoveTag(*Tag);
    if (auto owned = owner->TakeTag(Tag)) ReleaseOwned(std::move(owned));
  }
}

void TOPCProject::ReleaseOwned(std::unique_ptr<TNorvoVar> Tag) {
  RemoveTagRow(*Tag);
  if (Tag->FRefCount > 0) {
    Tag->FOwner = nullptr;
    Tag->FArrayHead = nullptr;
    Tag->FOrphan = true;
    FOrphanTags.Add(std::move(Tag));
  } else if (Tag->FInRequest) {
    // Its PLC may be freed before the request ends: nothing it points at
    // may be used meanwhile.
    Tag->FOwner = nullptr;
    Tag->FArrayHead = nullptr;
    Tag->FDeletePending = true;
    FOrphansToFree = true;
    FDeletePendingTags.push_back(std::move(Tag));
  }
  // Otherwise it is freed here.
}

void TOPCProject::FreeDeletePendingTags() {
  std::vector<std::unique_ptr<TNorvoVar>> pending = std::move(FDeletePendingTags);
  FDeletePendingTags.clear();
  for (auto& t : pending) {
    if (t->FInRequest) {
      FDeletePendingTags.push_back(std::move(t));
      continue;
    }
    t->FDeletePending = false;
    ReleaseOwned(std::move(t));
  }
  if (!FDeletePendingTags.empty()) FOrphansToFree = true;
}

std::unique_ptr<TNorvoModel> TOPCProject::RemovePLC(TNorvoModel* PLC) {
  const auto it = std::find_if(FPLCs.begin(), FPLCs.end(), [PLC](const auto& p) { return p.get() == PLC; });
  if (it == FPLCs.end()) return nullptr;
  std::unique_ptr<TNorvoModel> plc = std::move(*it);
  FPLCs.erase(it);
  UnindexPLC(*plc);
  FHooks.PLCRemoving(*plc);
  plc->FSockets.clear();
  std::vector<std::unique_ptr<TNorvoVar>> tags = std::move(plc->FTags);
  std::vector<std::unique_ptr<TNorvoVar>> sysTags = std::move(plc->FSysTags);
  plc->FTags.clear();
  plc->FSysTags.clear();
  for (auto& t : tags) ReleaseOwned(std::move(t));
  for (auto& t : sysTags) ReleaseOwned(std::move(t));
  if (plc->FDriver) {
    --plc->FDriver->FUseCount;
    plc->FDriver = nullptr;
  }
  return plc;
}

std::unique_ptr<TZeltaProject> TOPCProject::RemoveProject(TZeltaProject* Project) {
  for (size_t i = FPLCs.size(); i-- > 0;)
    if (FPLCs[i]->FProject == Project) RemovePLC(FPLCs[i].get());
  const auto it =
      std::find_if(FProjects.begin(), FProjects.end(), [Project](const auto& p) { return p.get() == Project; });
  if (it == FProjects.end()) return nullptr;
  std::unique_ptr<TZeltaProject> out = std::move(*it);
  FProjects.erase(it);
  return out;
}

// ---- loading --------------------------------------------------------------

void TOPCProject::StopOnce(bool& stopped) {
  if (stopped || !FCommunicating) return;
  SetCommunication(false);
  stopped = true;
}

void TOPCProject::Reload(bool ChangedOnly) {
  if (!FHooks.NameWarningVisible() && !FNameWarningPending) FNameWarningLines.clear();
  bool stopped = false;
  bool touched = false;
  bool anyRead = false;
  // The operator's colours and row order of the projects rebuilt here.
  std::vector<TPreserveColorAndOrderOfProject> looks;

  if (!ChangedOnly) {
    // Communication must not run on PLCs that are being freed.
    if (!FProjects.empty()) StopOnce(stopped);
    touched = !FProjects.empty();
    while (!FProjects.empty()) RemoveProject(FProjects.back().get());
  }

  const std::vector<std::string> paths = FProjectFiles;
  for (const std::string& path : paths) {
    const std::string cypPath = ProjectFileNameOf(path);
    if (!ChangedOnly) {
      const std::string missing = CheckAllocationFileExists(path);
      if (!missing.empty()) FContext.Boxes.ShowError(missing);
    }

    int32_t refreshCount = 0;
    if (TZeltaProject* old = FindProjectByFile(path)) {
      refreshCount = old->FRefreshCount;
      if (ChangedOnly && FileAge(path) == old->FAllocFileAge && FileAge(cypPath) == old->FProjectFileAge) continue;
      StopOnce(stopped);
      if (FContext.Log) FContext.Log->Write(kReloadingProject + path, false);
      FHooks.ClearBlinking();
      FHooks.SaveColorsAndOrder(*old);
      looks.push_back(SaveProjectLook(FPLCs, old, old->FAllocFileItem));
      RemoveProject(old);
    }
    StopOnce(stopped);
    touched = true;

    auto created = std::make_unique<TZeltaProject>(path);
    TZeltaProject& project = *created;
    project.FAllocFileAge = FileAge(path);
    project.FProjectFileAge = FileAge(cypPath);
    FProjects.push_back(std::move(created));

    anyRead = true;
    TLoadProject reader;
    try {
      reader.LoadAllocationFile(path);
    } catch (const std::exception& e) {
      if (ChangedOnly) {
        if (FContext.Log) FContext.Log->Write(e.what(), false);
      } else {
        FContext.Boxes.ShowError(e.what());
      }
      continue;
    }

    project.FProjectFileItem = reader.FProjectFileMatched ? reader.FProjectFileName : std::string();
    project.FComplete = reader.FProjectFileMatched;
    project.FLastRefresh = FContext.Time.Now();
    project.FRefreshCount = refreshCount + 1;

    bool warned = false;
    for (auto& program : reader.FPrograms)
      for (const int nad : program->FNADs) BuildPLC(project, *program, nad, warned);
  }

  for (const auto& look : looks)
    if (const TZeltaProject* project = FindProjectByFile(look.FFileName)) RestoreProjectLook(look, FPLCs, project);
  FHooks.RestoreColorsAndOrder();
  FAllProjectsComplete =
      std::all_of(FProjects.begin(), FProjects.end(), [](const auto& p) { return p->FComplete; });
  if (touched) FreeUnreferencedDrivers();
  if (stopped) SetCommunication(true);
  if (!FNameWarningLines.empty() && !FHooks.NameWarningVisible() && !ChangedOnly) FNameWarningPending = true;
  if (anyRead) FMasterPLCConfigured = UpdateMasterFlags();
}

void TOPCProject::BuildPLC(TZeltaProject& Project, TLoadedNorvo& Program, int NAD, bool& warnedInProject) {
  const std::string name = MakePLCName(NAD, Program.FUnitName, nullptr, Program.FProgramName);
  auto created = std::make_unique<TNorvoModel>(&Project, Program.FProgramName, Program.FUnitName, NAD, name, this);
  TNorvoModel& plc = *created;
  plc.FIsMaster = Program.FMasterNAD == NAD;
  plc.FDriver = GetDriver(NAD, 0);
  FPLCs.push_back(std::move(created));
  FHooks.PLCCreated(plc);

  const int32_t warnLen = FContext.Applied.FTagNameWarnLen;
  const bool warn = warnLen > 0 && !FHooks.NameWarningVisible();
  plc.FTags.reserve(Program.FVars.size());
  for (auto& record : Program.FVars) {
    TLoadedVar& v = *record;
    std::string itemID = plc.FullName(v.FName);
    if (warn && itemID.size() > static_cast<size_t>(warnLen)) {
      if (!warnedInProject) {
        FNameWarningLines.push_back("Some tags have tag names longer then " + std::to_string(warnLen) +
                                    " characters in project " + Project.FAllocFileItem + ":");
        warnedInProject = true;
      }
      FNameWarningLines.push_back(itemID);
    }
    std::unique_ptr<TNorvoVar> tag = FOrphanTags.empty() ? nullptr : TakeOrphan(itemID);
    if (!tag) tag = std::make_unique<TNorvoVar>(&plc, v.FName);
    tag->FOwner = &plc;
    tag->FVarType = v.FVarType;
    tag->FAddress = v.FAddress;
    tag->FDescription = v.FDescription;
    tag->FOrphan = false;
    tag->FArrayHead = nullptr;
    if (v.FIsArrayHead) v.FCreatedTag = tag.get();
    if (v.FArrayHead && v.FArrayHead->FCreatedTag && v.FArrayHead->FCreatedTag->FOwner == &plc)
      tag->FArrayHead = v.FArrayHead->FCreatedTag;
    plc.AddTag(std::move(tag));
  }

  if (!Program.FSockets.empty()) {
    // The last tag of a name wins, as FindTag answers, without a scan per name.
    std::unordered_map<std::string, TNorvoVar*> byName;
    for (auto& t : plc.FTags) byName[LowerText(t->FName)] = t.get();
    for (const TLoadedSocket& s : Program.FSockets) {
      auto socket = std::make_unique<TQNETSocket>(s.FIsInput, s.FNAD);
      socket->FOwner = &plc;
      FHooks.SocketCreated(*socket);
      for (const TLoadedVar* v : s.FVars) {
        const auto it = byName.find(LowerText(v->FName));
        if (it != byName.end()) socket->AddTag(*it->second);
      }
      plc.FSockets.push_back(std::move(socket));
    }
  }
  IndexPLC(plc);
}

// ---- the operator's commands ----------------------------------------------

void TOPCProject::acAddProjectExecute(const std::vector<std::string>& Files) {
  for (const std::string& file : Files) {
    const std::string key = LowerText(file);
    const bool loaded = std::any_of(FProjectFiles.begin(), FProjectFiles.end(),
                                    [&](const std::string& p) { return LowerText(p) == key; });
    if (loaded) {
      FContext.Boxes.ShowError("Project " + LowerText(FileNameOf(file)) + " allready loaded");
      return;
    }
    FProjectFiles.push_back(file);
  }
  Reload(false);
  FContext.Applied.FRegistryWarningArmed = true;
  WriteConfiguration();
}

void TOPCProject::acDeleteProjectExecute(TZeltaProject* Project) {
  if (!Project) return;
  bool referenced = false;
  for (const auto& plc : FPLCs) {
    if (plc->FProject != Project) continue;
    for (const auto* list : {&plc->FTags, &plc->FSysTags})
      for (const auto& t : *list)
        if (t->FRefCount > 0) referenced = true;
  }
  const std::string question = referenced
                                   ? std::string(kClientConnectedQuestion)
                                   : "Are you sure to delete project \"" + Project->FAllocFileItem + "\"";
  if (FContext.Boxes.AskYesNo(question) != TMsgAnswer::Yes) return;

  bool stopped = false;
  StopOnce(stopped);
  FHooks.ClearBlinking();
  const std::string key = LowerText(Project->FAllocFileItem);
  const auto it = std::find_if(FProjectFiles.begin(), FProjectFiles.end(),
                               [&](const std::string& p) { return LowerText(p) == key; });
  if (it != FProjectFiles.end()) FProjectFiles.erase(it);
  FContext.Applied.FRegistryWarningArmed = true;
  WriteConfiguration();

  RemoveProject(Project);
  FHooks.FocusRootIfFocusGone();
  FreeUnreferencedDrivers();
  if (stopped) SetCommunication(true);
  FHooks.RefreshPortIndicators();
}

void TOPCProject::acResetExecute() {
  for (auto& plc : FPLCs) plc->ResetCounters();
}

void TOPCProject::ViewTick(uint32_t IntervalMs) {
  if (FOrphansToFree) {
    FOrphansToFree = false;
    FreeDeletePendingTags();
  }
  if (!FContext.Applied.FAutoReload) return;
  if (FAutoReloadCountdown > 0) {
    FAutoReloadCountdown -= static_cast<int32_t>(IntervalMs);
  } else {
    Reload(true);
    FAutoReloadCountdown = kAutoReloadPeriodMs;
  }
}

// ---- configuration --------------------------------------------------------

TConnectionConfig TOPCProject::Config() const {
  return TConnectionConfig{FProjectFiles, FUseIndividualConnections, FConnections};
}

void TOPCProject::ReadConfiguration() {
  TConnectionConfig c;
  c.FUseIndividualConnections = FUseIndividualConnections;
  ::ReadConfiguration(c);
  FProjectFiles = std::move(c.FProjectFiles);
  FUseIndividualConnections = c.FUseIndividualConnections;
  FConnections = std::move(c.FConnections);
}

bool TOPCProject::WriteConfiguration() {
  return ::WriteConfiguration(Config(), FContext.Applied.FRegistryWarningArmed, FContext.Boxes);
}
