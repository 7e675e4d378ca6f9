// Figures for the project set: loading and building 100,000 variables, item
// lookup over them, and a full reload. Prints one line per figure.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "../tools/genproject/gen_project.h"
#include "common/message_box.h"
#include "core/opc_project.h"
#include "platform/clock.h"
#include "platform/registry.h"
#include "settings/applied_settings.h"

namespace {

class QuietBoxes final : public IMessageBoxes {
 public:
  void ShowError(const std::string& text) override { std::fprintf(stderr, "error box: %s\n", text.c_str()); }
  void ShowWarning(const std::string&) override {}
  TMsgAnswer AskYesNo(const std::string&) override { return TMsgAnswer::Yes; }
  void ShowInformation(const std::string&) override {}
};

double MsSince(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main() {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("norvoopc-bench-" + std::to_string(::getpid()));
  fs::create_directories(dir / "reg");
  SetRegistryLocation(RegistryLocation::InFolder((dir / "reg").string()));

  GenProjectOptions o;
  o.Plcs = 20;
  o.VarsPerPlc = 5000;  // 100,000 variable records
  o.Name = "bench";
  const std::string path = WriteGeneratedProject(o, dir.string());

  TAppliedSettings applied;
  QuietBoxes boxes;
  SystemClock clock;
  TOPCProject set(TProjectSetContext{applied, boxes, clock});
  set.FProjectFiles = {path};

  auto t0 = std::chrono::steady_clock::now();
  set.Reload(false);
  const double loadMs = MsSince(t0);
  std::printf("load and build %zu variables in %zu PLCs: %.1f ms\n", set.TagCount(), set.FPLCs.size(), loadMs);

  std::vector<std::string> ids;
  for (const auto& plc : set.FPLCs)
    for (const auto& t : plc->FTags) ids.push_back(t->FItemID);
  ids.push_back("Sys.ClientsConnected");
  ids.push_back("nobody.here.at.all");
  size_t found = 0;
  const int rounds = 5;
  t0 = std::chrono::steady_clock::now();
  for (int r = 0; r < rounds; ++r)
    for (const std::string& id : ids) found += set.FindItem(id) != nullptr;
  const double findNs = MsSince(t0) * 1e6 / static_cast<double>(ids.size() * rounds);
  std::printf("FindItem over %zu tags: %.0f ns per lookup (%zu found)\n", set.TagCount(), findNs, found);

  t0 = std::chrono::steady_clock::now();
  set.Reload(false);
  std::printf("full reload: %.1f ms\n", MsSince(t0));

  t0 = std::chrono::steady_clock::now();
  set.Reload(true);
  std::printf("changed-only reload, nothing changed: %.3f ms\n", MsSince(t0));

  std::error_code ec;
  fs::remove_all(dir, ec);
  return 0;
}
