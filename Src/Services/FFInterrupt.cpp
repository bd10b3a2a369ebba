#include "Services/FFInterrupt.h"

#include <algorithm>

#include "Services/FFLog.h"

namespace tovamo {

TInterruptCB::~TInterruptCB() {
  std::lock_guard<std::recursive_mutex> l(Lock_);
  Entries_.clear();
}

void TInterruptCB::AddCheck(std::uint32_t threadId, void* arg, TInterruptCheck check) {
  if (!check.Code) return;
  std::lock_guard<std::recursive_mutex> l(Lock_);
  for (const TEntry& e : Entries_)
    if (e.ThreadId == threadId && e.Arg == arg && e.Check.Code == check.Code) return;
  Entries_.push_back({threadId, check, arg});
}

void TInterruptCB::RemoveCheck(std::uint32_t threadId, void* arg, TInterruptCheck check) {
  std::lock_guard<std::recursive_mutex> l(Lock_);
  auto it = std::find_if(Entries_.begin(), Entries_.end(), [&](const TEntry& e) {
    return e.ThreadId == threadId && e.Arg == arg && e.Check.Code == check.Code;
  });
  if (it != Entries_.end()) Entries_.erase(it);
}

std::uint8_t TInterruptCB::CheckThread(std::uint32_t threadId) {
  std::lock_guard<std::recursive_mutex> l(Lock_);
  for (const TEntry& e : Entries_) {
    if (e.ThreadId != threadId) continue;
    // A copy: should a check register or remove entries after all (it must not), the
    // recursive lock lets it, and the list may move under a reference.
    const TEntry entry = e;
    return entry.Check.Code(entry.Check.Self, entry.Arg) ? 1 : 0;
  }
  return 0;
}

void TInterruptCB::ClearChecks() {
  std::lock_guard<std::recursive_mutex> l(Lock_);
  Entries_.clear();
}

TInterruptCB* InterruptCB() {
  // Never destroyed: a worker may still poll it while the process ends.
  static TInterruptCB* registry = new TInterruptCB;
  return registry;
}

int FFInterruptCallback(void*) noexcept {
  try {
    return InterruptCB()->CheckThread(CurrentThreadId()) != 0 ? 1 : 0;
  } catch (...) {
    return 1;
  }
}

AVIOInterruptCB FFInterruptCB() {
  return {FFInterruptCallback, nullptr};
}

}  // namespace tovamo
