// Stopping blocking FFmpeg calls. Every AVFormatContext and avio_open2 of the program gets
// FFInterruptCB(); FFmpeg polls it while it opens, reads and writes, and it asks the checks
// registered for the calling thread whether that thread's work is to stop.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "Services/FFHeaders.h"

namespace tovamo {

// A check's code: called with its object and the argument it was registered with; true
// means "interrupt".
using TCheckMethod = bool (*)(void* self, void* arg);

// A check method: code and object.
struct TInterruptCheck {
  TCheckMethod Code = nullptr;
  void* Self = nullptr;
};

// A check that calls a member function `bool T::Method(void* arg)` of `self`:
//   InterruptCB()->AddCheck(tid, this, MakeCheck<&TEngine::StopRequested>(this));
template <auto Method, class T>
TInterruptCheck MakeCheck(T* self) {
  return {[](void* obj, void* arg) -> bool { return (static_cast<T*>(obj)->*Method)(arg); }, self};
}

// Checks per thread. Entries are matched by thread id, argument and check code (not object).
// Check methods run while the registry's lock is held: they must not call AddCheck or
// RemoveCheck, and should answer at once (they are polled many times a second).
class TInterruptCB {
 public:
  TInterruptCB() = default;
  ~TInterruptCB();  // clears the entries under the lock
  TInterruptCB(const TInterruptCB&) = delete;
  TInterruptCB& operator=(const TInterruptCB&) = delete;

  // Appends an entry unless one with the same thread id, argument and code exists. A check
  // without code is ignored.
  void AddCheck(std::uint32_t threadId, void* arg, TInterruptCheck check);
  // Removes the first entry with the same thread id, argument and code.
  void RemoveCheck(std::uint32_t threadId, void* arg, TInterruptCheck check);
  // The first entry of the thread decides: its method's answer (1 or 0); 0 without entry.
  std::uint8_t CheckThread(std::uint32_t threadId);
  void ClearChecks();

 private:
  struct TEntry {
    std::uint32_t ThreadId;
    TInterruptCheck Check;
    void* Arg;
  };
  std::recursive_mutex Lock_;
  std::vector<TEntry> Entries_;
};

// The program's one registry, created on first use and kept until the process ends.
TInterruptCB* InterruptCB();

// FFmpeg's interrupt callback: 1 when CheckThread(CurrentThreadId()) is non-zero, else 0.
// A check that throws counts as "interrupt": nothing may unwind through FFmpeg.
int FFInterruptCallback(void* opaque) noexcept;

// {FFInterruptCallback, nullptr}, for AVFormatContext.interrupt_callback and avio_open2.
AVIOInterruptCB FFInterruptCB();

}  // namespace tovamo
