// What a tag needs of the controller: the applied quality options, the cached
// clock values and whether communication is active. Declared here so the tag
// model stays below the core layer that implements it.
#pragma once

#include <cstdint>

#include "platform/clock.h"

class ITagEnvironment {
 public:
  virtual ~ITagEnvironment() = default;

  // "Enable BAD quality" / "Enable UNCERTAIN quality".
  virtual bool EnableBad() const = 0;
  virtual bool EnableUncertain() const = 0;
  // "UNCERTAIN quality timeout (sec)" / "BAD quality timeout (sec)".
  virtual uint32_t UncertainTime() const = 0;
  virtual uint32_t BadTime() const = 0;

  // The controller's cached time and tick, refreshed on each view-timer tick
  // and whenever a reply is handled.
  virtual TDateTime CachedNow() const = 0;
  virtual uint32_t CachedTick() const = 0;
  // The local time read from the clock at the moment of the call.
  virtual TDateTime PresentTime() const = 0;

  // The server has been given permission to send within the last 6000 ms.
  virtual bool PermissionRecent() const = 0;
};

// Tags reach their environment through one process-wide pointer: the engine
// is single-threaded, and orphans and server-wide system tags have no PLC to
// ask. Null (the start state) selects a built-in default with the factory
// quality options, the system clock and communication inactive.
void SetTagEnvironment(ITagEnvironment* env);
ITagEnvironment& TagEnvironment();

// Installs an environment for its lifetime and restores the previous one.
class ScopedTagEnvironment {
 public:
  explicit ScopedTagEnvironment(ITagEnvironment& env) : previous_(current()) { SetTagEnvironment(&env); }
  ~ScopedTagEnvironment() { SetTagEnvironment(previous_); }
  ScopedTagEnvironment(const ScopedTagEnvironment&) = delete;
  ScopedTagEnvironment& operator=(const ScopedTagEnvironment&) = delete;

 private:
  static ITagEnvironment* current();
  ITagEnvironment* previous_;
};
