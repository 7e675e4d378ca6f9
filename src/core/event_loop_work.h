// What the event loop drives besides the main controller: the OPC group
// timer and the descriptors whose readability it watches (UDP transports,
// the serial-port hand-over socket). Kept free of any toolkit so the
// engine can be run by a plain loop in tests.
#pragma once

#include <functional>
#include <vector>

class IEventLoopWork {
 public:
  virtual ~IEventLoopWork() = default;

  // The 25 ms OPC group timer.
  virtual void GroupTimerTick() = 0;
  // The descriptors to watch for reading now.
  virtual std::vector<int> WatchedFds() const = 0;
  // A watched descriptor is readable.
  virtual void Readable(int Fd) = 0;
  // The loop's listener: called with a descriptor about to be closed (the
  // watcher must go first, its number may come back) or with -1 when the
  // set may have grown. Empty to detach.
  virtual void SetWatchListener(std::function<void(int ClosingFd)> Listener) = 0;
};
