// A tag environment whose options, clock values and communication state a
// test sets directly. Construct it before the tags: it installs itself for
// its lifetime.
#pragma once

#include "model/tag_environment.h"

class FakeTagEnvironment final : public ITagEnvironment {
 public:
  FakeTagEnvironment() = default;
  FakeTagEnvironment(const FakeTagEnvironment&) = delete;
  FakeTagEnvironment& operator=(const FakeTagEnvironment&) = delete;

  bool EnableBad() const override { return enableBad; }
  bool EnableUncertain() const override { return enableUncertain; }
  uint32_t UncertainTime() const override { return uncertainTime; }
  uint32_t BadTime() const override { return badTime; }
  TDateTime CachedNow() const override { return now; }
  uint32_t CachedTick() const override { return tick; }
  TDateTime PresentTime() const override { return present; }
  bool PermissionRecent() const override { return permissionRecent; }

  bool enableBad = true;
  bool enableUncertain = true;
  uint32_t uncertainTime = 5;
  uint32_t badTime = 10;
  TDateTime now = 46000.25;
  uint32_t tick = 0;
  TDateTime present = 46000.75;
  bool permissionRecent = true;

 private:
  ScopedTagEnvironment installed_{*this};
};
