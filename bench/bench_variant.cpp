// Throughput of the hot VARIANT conversions: I4 -> R8 (every numeric tag
// read by a client asking for doubles) and BSTR -> I4 (client writes as text).
#include <chrono>
#include <cstdio>

#include "platform/variant.h"

namespace {

template <typename Body>
double PerSecond(long iterations, Body body) {
  const auto start = std::chrono::steady_clock::now();
  for (long i = 0; i < iterations; ++i) body(i);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  return iterations / took.count();
}

}  // namespace

int main() {
  const int64_t blocksBefore = CoTaskMemLiveBlocks();
  volatile double sink = 0;

  VARIANT src;
  VariantInit(&src);
  src.vt = VT_I4;
  VARIANT dst;
  VariantInit(&dst);
  const double i4ToR8 = PerSecond(20'000'000, [&](long i) {
    src.lVal = static_cast<int32_t>(i);
    VariantChangeType(&dst, &src, 0, VT_R8);
    sink = sink + dst.dblVal;
  });

  const char16_t* texts[] = {u"12345", u" -42 ", u"1,000", u"&HFF", u"2147483647", u"3.5"};
  BSTR bstrs[6];
  for (int k = 0; k < 6; ++k) bstrs[k] = SysAllocString(texts[k]);
  VARIANT text;
  VariantInit(&text);
  text.vt = VT_BSTR;
  const int64_t blocksDuring = CoTaskMemLiveBlocks();
  const double bstrToI4 = PerSecond(2'000'000, [&](long i) {
    text.bstrVal = bstrs[i % 6];
    VariantChangeType(&dst, &text, 0, VT_I4);
    sink = sink + dst.lVal;
  });
  const bool allocated = CoTaskMemLiveBlocks() != blocksDuring;

  const double r8ToBstr = PerSecond(1'000'000, [&](long i) {
    VARIANT r8;
    VariantInit(&r8);
    r8.vt = VT_R8;
    r8.dblVal = i * 0.37;
    VARIANT out;
    VariantInit(&out);
    VariantChangeType(&out, &r8, 0, VT_BSTR);
    VariantClear(&out);
  });

  for (BSTR b : bstrs) SysFreeString(b);
  std::printf("VariantChangeType I4 -> R8:   %12.0f conversions/s\n", i4ToR8);
  std::printf("VariantChangeType BSTR -> I4: %12.0f conversions/s%s\n", bstrToI4,
              allocated ? " (LEAKED task memory)" : "");
  std::printf("VariantChangeType R8 -> BSTR: %12.0f conversions/s\n", r8ToBstr);
  std::printf("task-allocator blocks left: %lld\n", static_cast<long long>(CoTaskMemLiveBlocks() - blocksBefore));
  return 0;
}
