// Array tag reads in a large PLC: the VARIANT of an array and its quality
// recomputation, both of which walk the array's elements.
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "model/norvo_model.h"
#include "model/norvo_var.h"

namespace {

template <class Fn>
double NanosPerCall(int calls, Fn&& fn) {
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < calls; ++i) fn();
  const std::chrono::duration<double, std::nano> took = std::chrono::steady_clock::now() - start;
  return took.count() / calls;
}

}  // namespace

int main() {
  constexpr int kScalars = 20000;
  constexpr int kArrays = 50;
  constexpr int kElements = 100;

  TNorvoModel plc;
  plc.FName = "PLC_unit.5";
  auto add = [&](const std::string& name, uint8_t code, TNorvoVar* head) -> TNorvoVar& {
    plc.FTags.push_back(std::make_unique<TNorvoVar>(&plc, name));
    TNorvoVar& t = *plc.FTags.back();
    t.FVarType = code;
    t.FArrayHead = head;
    t.UpdateFromPLC(1);
    return t;
  };
  for (int i = 0; i < kScalars; ++i) add("v" + std::to_string(i), ntLong, nullptr);
  TNorvoVar* last = nullptr;
  for (int a = 0; a < kArrays; ++a) {
    last = &add("a" + std::to_string(a), ntIntArray, nullptr);
    for (int e = 0; e < kElements; ++e) add("a[" + std::to_string(e) + "]", ntInt, last);
  }

  VARIANT v;
  VariantInit(&v);
  const double variantNs = NanosPerCall(20000, [&] { last->GetValueVariant(&v); });
  VariantClear(&v);
  uint32_t lowest = 0;
  const double qualityNs = NanosPerCall(20000, [&] { lowest += last->ElementsQuality(); });

  std::printf("tags in PLC: %zu, elements per array: %d\n", plc.FTags.size(), kElements);
  std::printf("GetValueVariant of an array: %.0f ns\n", variantNs);
  std::printf("ElementsQuality of an array: %.0f ns (checksum %u)\n", qualityNs, lowest);
  return 0;
}
