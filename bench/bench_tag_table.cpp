// The table of a PLC with 100,000 tags: adding every row, sorting by the
// value and tag-name columns, restoring a saved socket order, and removing
// every row one by one (front first, as a project removal does). Prints the
// time of each step; each must stay far below a second.
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "model/norvo_var.h"
#include "model/preserve_color_and_order.h"
#include "model/tag_environment.h"
#include "model/tag_table.h"

namespace {

class QuietEnvironment final : public ITagEnvironment {
 public:
  bool EnableBad() const override { return true; }
  bool EnableUncertain() const override { return true; }
  uint32_t UncertainTime() const override { return 5; }
  uint32_t BadTime() const override { return 10; }
  TDateTime CachedNow() const override { return 46000; }
  uint32_t CachedTick() const override { return 0; }
  TDateTime PresentTime() const override { return 46000; }
  bool PermissionRecent() const override { return true; }
};

template <class Fn>
double Millis(Fn&& fn) {
  const auto start = std::chrono::steady_clock::now();
  fn();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main() {
  QuietEnvironment env;
  ScopedTagEnvironment installed(env);
  constexpr size_t kTags = 100000;
  std::vector<std::unique_ptr<TNorvoVar>> tags;
  tags.reserve(kTags);
  uint32_t seed = 12345;
  for (size_t i = 0; i < kTags; ++i) {
    auto t = std::make_unique<TNorvoVar>(nullptr, "Var" + std::to_string(i));
    t->FItemID = "Unit.5." + t->FName;
    t->FVarType = static_cast<uint8_t>(ntBit + i % 5);
    seed = seed * 1103515245u + 12345u;
    t->FValue = static_cast<int32_t>(seed >> 8);
    tags.push_back(std::move(t));
  }
  bool hide = true;
  TTagTable table(true, TagTableColumns(), &hide);

  const double add = Millis([&] {
    for (auto& t : tags) table.AddTagRow(*t);
  });
  const double sortValue = Millis([&] { table.HeaderClick(5); });
  const double sortName = Millis([&] { table.HeaderClick(1); });
  TPreserveColorAndOrderSocket saved;
  for (size_t i = kTags; i-- > 0;) saved.FItemIDs.push_back(tags[i]->FItemID);
  const double savedOrder = Millis([&] { table.SortWith(CompareBySavedOrder(saved)); });
  const double moves = Millis([&] {
    for (size_t i = 0; i < kRenumberedRows; ++i) table.MoveRowTo(*tags[i], i);
    table.Renumber();
  });
  const double remove = Millis([&] {
    for (auto& t : tags) table.RemoveTagRow(*t, true);
  });

  std::printf("tag table, %zu rows\n", kTags);
  std::printf("  add every row             %8.1f ms\n", add);
  std::printf("  sort by value             %8.1f ms\n", sortValue);
  std::printf("  sort by tag name          %8.1f ms\n", sortName);
  std::printf("  sort by a saved order     %8.1f ms\n", savedOrder);
  std::printf("  %zu moves and renumber    %8.1f ms\n", kRenumberedRows, moves);
  std::printf("  remove every row          %8.1f ms\n", remove);
  return table.RowCount() == 0 ? 0 : 1;
}
