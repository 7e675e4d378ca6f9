#include "core/deferred_queue.h"

#include <algorithm>

void TDeferredQueue::Post(uint32_t msg, std::function<void()> handler, const void* owner) {
  const bool wasEmpty = FPosted.empty();
  FPosted.push_back({msg, std::move(handler), owner});
  if (wasEmpty && FWake) FWake();
}

void TDeferredQueue::PostDeferred(std::function<void()> proc, const void* owner) {
  FDeferredProcs.push_back({std::move(proc), owner});
  // Tagged like its holder, so DropFor withdraws the pair and the k-th
  // message still runs the k-th holder.
  Post(WM_EXECUTE_PROC, [this] { WMExecuteProc(); }, owner);
}

void TDeferredQueue::WMExecuteProc() {
  if (FDeferredProcs.empty()) return;
  TProcedureHolder holder = std::move(FDeferredProcs.front());
  FDeferredProcs.pop_front();
  if (holder.Proc) holder.Proc();
}

size_t TDeferredQueue::Dispatch() {
  size_t budget = FPosted.size();
  size_t ran = 0;
  while (budget-- > 0 && !FPosted.empty()) {
    TPosted msg = std::move(FPosted.front());
    FPosted.pop_front();
    if (msg.Handler) msg.Handler();
    ++ran;
  }
  return ran;
}

void TDeferredQueue::DropFor(const void* owner) {
  if (owner == nullptr) return;
  auto dropped = [owner](const auto& e) { return e.Owner == owner; };
  FPosted.erase(std::remove_if(FPosted.begin(), FPosted.end(), dropped), FPosted.end());
  FDeferredProcs.erase(std::remove_if(FDeferredProcs.begin(), FDeferredProcs.end(), dropped),
                       FDeferredProcs.end());
}
