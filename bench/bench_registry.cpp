// Registry store figures: reading one value from a file of 10,000 values
// that has not changed (served from the cache after one stat), and writing
// one value (lock, re-read check, rewrite, fsync, rename).
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/registry.h"

namespace {

using Clock = std::chrono::steady_clock;

double MicrosPer(Clock::duration d, int count) {
  return std::chrono::duration<double, std::micro>(d).count() / count;
}

}  // namespace

int main() {
  char tmpl[] = "/tmp/norvoopc-bench-reg-XXXXXX";
  if (!mkdtemp(tmpl)) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::string dir = tmpl;
  SetRegistryLocation(RegistryLocation::InFolder(dir));

  constexpr int kKeys = 100, kValuesPerKey = 100;  // 10,000 values
  {
    // Written as one file in one go; the store's own writes would rewrite
    // it 10,000 times.
    std::string text = "Windows Registry Editor Version 5.00\n\n";
    for (int k = 0; k < kKeys; ++k) {
      text += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Bench\\Key" + std::to_string(k) + "]\n";
      for (int v = 0; v < kValuesPerKey; ++v)
        text += "\"Value" + std::to_string(v) + "\"=" +
                (v % 2 ? "dword:0000002a\n" : "\"some text of moderate length\"\n");
      text += "\n";
    }
    std::FILE* f = std::fopen((dir + "/HKEY_LOCAL_MACHINE.reg").c_str(), "wb");
    if (!f) return 1;
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }

  TRegistry reg(RegRoot::LocalMachine);
  auto t0 = Clock::now();
  if (!reg.OpenKey("SOFTWARE\\Bench\\Key57", false)) {
    std::fprintf(stderr, "%s\n", reg.LastError().c_str());
    return 1;
  }
  std::printf("first open (parse of 10,000 values): %.1f us\n", MicrosPer(Clock::now() - t0, 1));

  constexpr int kReads = 200000;
  long long sum = 0;
  t0 = Clock::now();
  for (int i = 0; i < kReads; ++i) sum += reg.ReadInteger("VALUE33").value_or(0);
  std::printf("cached read of one value: %.3f us (%d reads, check %lld)\n",
              MicrosPer(Clock::now() - t0, kReads), kReads, sum);

  constexpr int kWrites = 50;
  t0 = Clock::now();
  for (int i = 0; i < kWrites; ++i) {
    if (!reg.WriteInteger("Value33", i)) {
      std::fprintf(stderr, "%s\n", reg.LastError().c_str());
      return 1;
    }
  }
  std::printf("write of one value: %.1f us (%d writes)\n", MicrosPer(Clock::now() - t0, kWrites),
              kWrites);

  std::filesystem::remove_all(dir);
  return 0;
}
