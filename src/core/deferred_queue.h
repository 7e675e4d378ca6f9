// Calls queued for the event loop: our form of posted window messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>

// Main-window messages. Posted ones travel through TDeferredQueue; the
// WM_INSTANCE_* ones arrive from a second instance over the instance socket.
enum : uint32_t {
  WM_QUERYENDSESSION = 0x11,
  WM_MAXIMIZE_MAIN = 0x401,
  WM_SHOW_NAME_WARNING = 0x402,
  WM_PREPARE_REQUEST = 0x403,
  WM_SELECTION_CHANGED = 0x404,
  WM_HIDE_TO_TRAY = 0x405,
  WM_INSTANCE_QUERY = 0x406,
  WM_INSTANCE_PARAMS = 0x407,
  WM_INSTANCE_PARAMS_END = 0x408,
  WM_INSTANCE_ENABLE_SHOW = 0x409,
  WM_EXECUTE_PROC = 0x40A,
  // A second instance asks the first to come to the front (restored if
  // minimised); on Windows it did so itself through the window manager.
  WM_INSTANCE_ACTIVATE = 0x40B,
  WM_COMPORT_HANDOVER = 0x69A,
};

// A procedure with its argument bound in, queued by PostDeferred.
struct TProcedureHolder {
  std::function<void()> Proc;
  const void* Owner = nullptr;  // lets the owner withdraw it before it dies
};

// First-in first-out queue of posted messages and deferred procedures. One
// posted WM_EXECUTE_PROC runs one holder, as the window procedure did.
class TDeferredQueue {
 public:
  // Called when the queue goes from empty to non-empty, so the event loop
  // can schedule a Dispatch.
  void SetWakeHook(std::function<void()> wake) { FWake = std::move(wake); }

  // Posts a message whose handling is `handler`. `owner` tags it so
  // DropFor(owner) can withdraw it (a driver freed while its request waits).
  void Post(uint32_t msg, std::function<void()> handler, const void* owner = nullptr);

  // Appends a holder to FDeferredProcs and posts WM_EXECUTE_PROC.
  void PostDeferred(std::function<void()> proc, const void* owner = nullptr);

  // Runs the messages posted before this call, in order; messages posted by
  // their handlers wait for the next Dispatch. Answers how many ran.
  size_t Dispatch();

  // Withdraws every message and holder tagged with `owner`.
  void DropFor(const void* owner);

  bool Empty() const { return FPosted.empty(); }
  size_t PendingProcs() const { return FDeferredProcs.size(); }

 private:
  struct TPosted {
    uint32_t Msg;
    std::function<void()> Handler;
    const void* Owner;
  };
  void WMExecuteProc();

  std::deque<TPosted> FPosted;
  std::deque<TProcedureHolder> FDeferredProcs;
  std::function<void()> FWake;
};
