#include "Services/FFCodecLock.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "Services/FFLoad.h"
#include "Services/FFLoadHooks.h"
#include "Services/FFLog.h"

namespace tovamo {
namespace {

// How long closing a mutex waits for its owner before closing it anyway.
constexpr auto kCloseWait = std::chrono::seconds(5);

// A system-style mutex: owned by one thread (which may nest), releasable only by its owner,
// and closable while others wait on it; they are then woken with EIDRM.
class TCodecMutex {
 public:
  explicit TCodecMutex(int id) : Id(id) {}
  const int Id;

  // 0 or an errno value.
  int Obtain() {
    std::unique_lock<std::mutex> l(M_);
    const auto self = std::this_thread::get_id();
    if (!Closed_ && Count_ > 0 && Owner_ == self) {
      ++Count_;
      return 0;
    }
    Cv_.wait(l, [&] { return Closed_ || Count_ == 0; });
    if (Closed_) return EIDRM;
    Owner_ = self;
    Count_ = 1;
    return 0;
  }

  int Release() {
    std::lock_guard<std::mutex> l(M_);
    if (Closed_ || Count_ == 0 || Owner_ != std::this_thread::get_id()) return EPERM;
    if (--Count_ == 0) {
      Owner_ = {};
      Cv_.notify_all();
    }
    return 0;
  }

  // Waits (bounded) until no other thread owns it, then closes it and wakes every waiter.
  void Close() {
    std::unique_lock<std::mutex> l(M_);
    const auto self = std::this_thread::get_id();
    Cv_.wait_for(l, kCloseWait, [&] { return Count_ == 0 || Owner_ == self; });
    Closed_ = true;
    Count_ = 0;
    Owner_ = {};
    Cv_.notify_all();
  }

 private:
  std::mutex M_;
  std::condition_variable Cv_;
  std::thread::id Owner_;
  unsigned Count_ = 0;
  bool Closed_ = false;
};

struct TSlot {
  std::shared_ptr<TCodecMutex> Mutex;
};

struct TState {
  // Serialises create and destroy (and a waiter's look for a replacement mutex), so that a
  // replacement is complete before anyone looks at the slot again. Taken before SlotLock.
  std::recursive_mutex OpLock;
  std::mutex SlotLock;  // guards Slot, NextId and every caller's reference
  TSlot Slot;
  int NextId = 1;
  void* Registration = nullptr;  // the loader's reference
};

// Never destroyed: FFmpeg calls and the loader's own teardown may still run at exit.
TState& State() {
  static TState* state = new TState;
  return *state;
}

std::string SysText(int err) {
  return std::strerror(err);
}

bool Closing() {
  return FFLoader().Closing;
}

// The mutex *mutex refers to, when it refers to the slot and the slot holds one.
std::shared_ptr<TCodecMutex> Referenced(TState& s, void** mutex) {
  std::lock_guard<std::mutex> l(s.SlotLock);
  if (*mutex != &s.Slot) return nullptr;
  return s.Slot.Mutex;
}

int Create(TState& s, void** mutex) {
  std::lock_guard<std::recursive_mutex> op(s.OpLock);
  std::shared_ptr<TCodecMutex> old;
  {
    std::lock_guard<std::mutex> l(s.SlotLock);
    old = s.Slot.Mutex;
    if (old && *mutex == &s.Slot) {
      const int id = old->Id;
      DefaultLogger()->LogFmt(nullptr, llError, "error, codec mutex [%d] already exist.", id);
      return -1;
    }
  }
  if (old) {
    DefaultLogger()->LogFmt(nullptr, llWarning, "warning, local codec mutex [%d] not destroyed.",
                            old->Id);
    old->Close();
    std::lock_guard<std::mutex> l(s.SlotLock);
    s.Slot.Mutex.reset();
  }
  std::shared_ptr<TCodecMutex> created;
  int id;
  try {
    std::lock_guard<std::mutex> l(s.SlotLock);
    id = s.NextId;
    created = std::make_shared<TCodecMutex>(id);
    ++s.NextId;
    s.Slot.Mutex = created;
    *mutex = &s.Slot;
  } catch (const std::bad_alloc&) {
    DefaultLogger()->LogFmt(nullptr, llError, "error, failed to create codec mutex: %s.",
                            SysText(ENOMEM).c_str());
    return -1;
  } catch (const std::system_error& e) {
    DefaultLogger()->LogFmt(nullptr, llError, "error, failed to create codec mutex: %s.",
                            e.code().message().c_str());
    return -1;
  }
  DefaultLogger()->LogFmt(nullptr, llDebug, "create codec mutex [%d].", id);
  return 0;
}

int Obtain(TState& s, void** mutex) {
  std::shared_ptr<TCodecMutex> m = Referenced(s, mutex);
  if (!m) {
    DefaultLogger()->Log(nullptr, llError, "error, codec mutex not available.");
    return -1;
  }
  for (;;) {
    const int err = m->Obtain();
    if (err == 0) break;
    // Closed while waiting: the slot's replacement, if there is one, is the codec mutex now.
    std::shared_ptr<TCodecMutex> next;
    if (err == EIDRM) {
      std::lock_guard<std::recursive_mutex> op(s.OpLock);
      next = Referenced(s, mutex);
    }
    if (!next || next == m) {
      DefaultLogger()->LogFmt(nullptr, llError, "error, could not wait on codec mutex [%d]: %s.",
                              m->Id, SysText(err).c_str());
      return -1;
    }
    m = std::move(next);
  }
  DefaultLogger()->LogFmt(nullptr, llDebug, "obtain codec mutex [%d].", m->Id);
  return 0;
}

int Release(TState& s, void** mutex) {
  std::shared_ptr<TCodecMutex> m = Referenced(s, mutex);
  if (!m) {
    DefaultLogger()->Log(nullptr, llError, "error, codec mutex not available.");
    return -1;
  }
  if (const int err = m->Release(); err != 0) {
    DefaultLogger()->LogFmt(nullptr, llError, "error, could not release codec mutex [%d]: %s.",
                            m->Id, SysText(err).c_str());
    return -1;
  }
  DefaultLogger()->LogFmt(nullptr, llDebug, "release codec mutex [%d].", m->Id);
  return 0;
}

int Destroy(TState& s, void** mutex) {
  std::lock_guard<std::recursive_mutex> op(s.OpLock);
  std::shared_ptr<TCodecMutex> m = Referenced(s, mutex);
  if (!m) return 0;
  m->Close();
  {
    std::lock_guard<std::mutex> l(s.SlotLock);
    if (s.Slot.Mutex == m) s.Slot.Mutex.reset();
    *mutex = nullptr;
  }
  DefaultLogger()->LogFmt(nullptr, llDebug, "destory codec mutex [%d].", m->Id);
  return 0;
}

}  // namespace

int CodecLockCallback(void** mutex, int op) {
  if (Closing()) return 0;
  TState& s = State();
  if (!mutex) {
    DefaultLogger()->Log(nullptr, llError, "error, codec mutex not available.");
    return -1;
  }
  switch (op) {
    case lockCreate:
      return Create(s, mutex);
    case lockObtain:
      return Obtain(s, mutex);
    case lockRelease:
      return Release(s, mutex);
    case lockDestroy:
      return Destroy(s, mutex);
    default:
      DefaultLogger()->LogFmt(nullptr, llError, "error, invalid codec mutex operation %d.", op);
      return -1;
  }
}

int CodecMutexId() {
  TState& s = State();
  std::lock_guard<std::mutex> l(s.SlotLock);
  return s.Slot.Mutex ? s.Slot.Mutex->Id : 0;
}

void CodecLockInstall() {
  TState& s = State();
  // Both steps under the operation lock: a thread woken from the old mutex finds the new one.
  std::lock_guard<std::recursive_mutex> op(s.OpLock);
  CodecLockCallback(&s.Registration, lockDestroy);
  CodecLockCallback(&s.Registration, lockCreate);
}

void CodecLockUninstall() {
  CodecLockCallback(&State().Registration, lockDestroy);
}

TCodecLockGuard::TCodecLockGuard()
    : Owned_(CodecLockCallback(&State().Registration, lockObtain) == 0) {}

TCodecLockGuard::~TCodecLockGuard() {
  if (Owned_) CodecLockCallback(&State().Registration, lockRelease);
}

}  // namespace tovamo
