// Marks a region that must not be entered again while it runs (a send or a
// receive that may let the event loop run); the flag clears on every way out.
#pragma once

class TReentryGuard {
 public:
  explicit TReentryGuard(bool& flag) : FFlag(flag) { FFlag = true; }
  ~TReentryGuard() { FFlag = false; }
  TReentryGuard(const TReentryGuard&) = delete;
  TReentryGuard& operator=(const TReentryGuard&) = delete;

 private:
  bool& FFlag;
};
