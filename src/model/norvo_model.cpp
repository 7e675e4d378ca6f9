#include "model/norvo_model.h"

#include <algorithm>

#include "model/orphan_list.h"
#include "model/same_text.h"
#include "model/sys_tags.h"
#include "model/tag_view.h"

void RemoveTagRow(TNorvoVar& Tag) {
  if (auto* view = static_cast<ITagTableView*>(Tag.FView)) view->RemoveRow(Tag);
  Tag.FView = nullptr;
  Tag.FViewItem = nullptr;
}

TNorvoModel::TNorvoModel(TZeltaProject* Project, const std::string& ProgramName, std::string UnitName, int NAD,
                         std::string Name, IOrphanList* Orphans, ITagTableView* View)
    : FView(View),
      FProject(Project),
      FNAD(NAD),
      FUnitName(std::move(UnitName)),
      FProgramName(ProgramName.empty() ? std::string("Prog") : ProgramName),
      FName(std::move(Name)),
      FOrphans(Orphans) {
  CreatePLCSysTags(*this, Orphans);
}

TNorvoModel::~TNorvoModel() {
  // Sockets point at tags, so they go first.
  FSockets.clear();
  FTags.clear();
  FSysTags.clear();
}

std::string TNorvoModel::FullName(std::string_view TagName) const {
  std::string out;
  out.reserve(FName.size() + 1 + TagName.size());
  out += FName;
  out += '.';
  out += TagName;
  return out;
}

TNorvoVar& TNorvoModel::AddTag(std::unique_ptr<TNorvoVar> Tag) {
  Tag->FView = FView;
  if (FView) FView->AddRow(*Tag);
  auto& list = Tag->FIsSystem ? FSysTags : FTags;
  list.push_back(std::move(Tag));
  return *list.back();
}

namespace {

template <class Field>
TNorvoVar* FindLast(const std::vector<std::unique_ptr<TNorvoVar>>& list, std::string_view key, Field field) {
  for (auto it = list.rbegin(); it != list.rend(); ++it)
    if (SameText((**it).*field, key)) return it->get();
  return nullptr;
}

std::unique_ptr<TNorvoVar> TakeFrom(std::vector<std::unique_ptr<TNorvoVar>>& list, TNorvoVar* tag) {
  const auto it = std::find_if(list.begin(), list.end(), [tag](const auto& t) { return t.get() == tag; });
  if (it == list.end()) return nullptr;
  std::unique_ptr<TNorvoVar> out = std::move(*it);
  list.erase(it);
  return out;
}

}  // namespace

TNorvoVar* TNorvoModel::FindTag(std::string_view Name) const { return FindLast(FTags, Name, &TNorvoVar::FName); }

TNorvoVar* TNorvoModel::FindTagByItemID(std::string_view ItemID) const {
  return FindLast(FTags, ItemID, &TNorvoVar::FItemID);
}

TNorvoVar* TNorvoModel::FindSysTag(std::string_view ItemID) const {
  return FindLast(FSysTags, ItemID, &TNorvoVar::FItemID);
}

TQNETSocket* TNorvoModel::FindSocket(bool IsInput, int NAD) const {
  for (const auto& s : FSockets)
    if (s->FIsInput == IsInput && s->FNAD == NAD) return s.get();
  return nullptr;
}

std::unique_ptr<TQNETSocket> TNorvoModel::RemoveSocket(TQNETSocket* Socket) {
  const auto it = std::find_if(FSockets.begin(), FSockets.end(), [Socket](const auto& s) { return s.get() == Socket; });
  if (it == FSockets.end()) return nullptr;
  std::unique_ptr<TQNETSocket> out = std::move(*it);
  FSockets.erase(it);
  return out;
}

void TNorvoModel::DetachTag(TNorvoVar& Tag) { RemoveTagRow(Tag); }

std::unique_ptr<TNorvoVar> TNorvoModel::TakeTag(TNorvoVar* Tag) {
  if (auto t = TakeFrom(FTags, Tag)) return t;
  return TakeFrom(FSysTags, Tag);
}

void TNorvoModel::OrphanTag(TNorvoVar* Tag) {
  // Without a list to keep it, freeing the tag would leave its clients
  // holding a dangling reference.
  if (!FOrphans) return;
  std::unique_ptr<TNorvoVar> tag = TakeTag(Tag);
  if (!tag) return;
  // A socket must not keep pointing at a tag that is no longer ours.
  for (auto& s : FSockets) s->RemoveTag(*Tag);
  RemoveTagRow(*tag);
  tag->FOwner = nullptr;
  tag->FArrayHead = nullptr;
  tag->FOrphan = true;
  FOrphans->AddOrphan(std::move(tag));
}

void TNorvoModel::RefreshSysTags() {
  for (auto& t : FSysTags) t->UpdateFromPLC(t->FValue);
}

void TNorvoModel::ResetCounters() {
  FReceiveCount = 0;
  FTransmitCount = 0;
  FErrorCount = 0;
  FLastReceivedAt = 0;
  FLastSendTick = 0;
  FLastResponseTime = 0;
  FMaxResponseTime = 0;
  FMaxResponseTimeAt = 0;
  FTimeoutCount = 0;
  FLastTimeoutAt = 0;
  FBadMessageCount = 0;
  FLastBadMessageAt = 0;
  FNakCount = 0;
  FLastNakAt = 0;
  FReadCount = 0;
  FReadErrorCount = 0;
  FWriteCount = 0;
  FWriteErrorCount = 0;
  FBackgroundRefreshCount = 0;
  FBackgroundRefreshErrorCount = 0;
  FHasPendingWork = false;
}
