#include "platform/clock.h"

#include <time.h>

#include "platform/date_time.h"

uint32_t SystemClock::TickCount() const {
  struct timespec ts {};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  // Truncation to 32 bits is the wrap that TickDiff is built for.
  return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u +
                               static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

TDateTime SystemClock::Now() const { return NowLocal(); }
