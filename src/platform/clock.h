// Time sources behind an interface so the engine runs on a fake clock in tests.
#pragma once

#include <cstdint>

using TDateTime = double;  // local date-time, days since 1899-12-30

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since an arbitrary origin, wrapping at 2^32; differences
  // taken with TickDiff stay right across the wrap.
  virtual uint32_t TickCount() const = 0;
  // Local date and time now.
  virtual TDateTime Now() const = 0;
};

// Milliseconds from `earlier` to `later`, right across the 32-bit wrap.
constexpr uint32_t TickDiff(uint32_t later, uint32_t earlier) { return later - earlier; }

// The real clock: CLOCK_MONOTONIC milliseconds and the local time.
class SystemClock final : public Clock {
 public:
  uint32_t TickCount() const override;
  TDateTime Now() const override;
};

// A clock that moves only when told; for tests.
class FakeClock final : public Clock {
 public:
  uint32_t TickCount() const override { return tick_; }
  TDateTime Now() const override { return now_; }
  void SetTick(uint32_t tick) { tick_ = tick; }
  void SetNow(TDateTime now) { now_ = now; }
  // Moves both the tick and the local time.
  void Advance(uint32_t ms) {
    tick_ += ms;
    now_ += static_cast<double>(ms) / 86400000.0;
  }

 private:
  uint32_t tick_ = 0;
  TDateTime now_ = 46000.0;  // an arbitrary day in 2025
};
