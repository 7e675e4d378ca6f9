// Reading a generated project of 100,000 variables: time and throughput of
// the allocation and project file reader, from disk and from memory.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "../tools/genproject/gen_project.h"
#include "model/load_project.h"

namespace {

template <typename F>
double BestOf(int runs, F&& f) {
  std::vector<double> ms;
  for (int i = 0; i < runs; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    const auto t1 = std::chrono::steady_clock::now();
    ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
  }
  std::sort(ms.begin(), ms.end());
  return ms.front();
}

}  // namespace

int main() {
  GenProjectOptions o;
  o.Plcs = 10;
  o.VarsPerPlc = 10000;
  o.SocketsPerPlc = 4;
  o.SocketVars = 32;
  o.ArrayPercent = 10;
  const GenProjectText text = GenerateProjectText(o);

  const auto dir = std::filesystem::temp_directory_path() /
                   ("norvoopc_bench_reader_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string alc = WriteGeneratedProject(o, dir.string());
  const double mb = static_cast<double>(text.Allocation.size() + text.Project.size()) / 1e6;

  size_t records = 0;
  const double diskMs = BestOf(5, [&] {
    TLoadProject reader;
    reader.LoadAllocationFile(alc);
    records = 0;
    for (const auto& p : reader.FPrograms) records += p->FVars.size();
  });
  const std::string_view project(text.Project);
  const double memoryMs = BestOf(5, [&] {
    TLoadProject reader;
    reader.LoadFromText(alc, text.Allocation, &project);
  });
  std::filesystem::remove_all(dir);

  std::printf("project: %d programs, %zu variable records, %.2f MB\n", o.Plcs, records, mb);
  std::printf("LoadAllocationFile (disk):  %8.2f ms  %8.1f MB/s  (best of 5)\n", diskMs,
              mb / (diskMs / 1000.0));
  std::printf("LoadFromText (memory):      %8.2f ms  %8.1f MB/s  (best of 5)\n", memoryMs,
              mb / (memoryMs / 1000.0));
  return records == text.Records ? 0 : 1;
}
