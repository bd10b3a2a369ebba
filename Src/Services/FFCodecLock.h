// The codec lock: one program-wide mutex that serialises codec opens and closes across the
// engine threads, driven through a lock-manager style callback.
//
// The module has one codec mutex slot. A caller keeps a reference (a void* that is null or
// refers to the slot) and passes its address to CodecLockCallback with an operation; the
// loader keeps the module's own registration reference, which CodecLockInstall and
// CodecLockUninstall manage and TCodecLockGuard uses. Every operation logs through
// DefaultLogger() without sender, and does nothing (returns 0) once FFLoader().Closing is set.
#pragma once

// Its loader hooks, CodecLockInstall (closes the mutex the registration still holds and
// creates a new one, as each load of avcodec did) and CodecLockUninstall, are declared
// with the other hooks in FFLoadHooks.h.

namespace tovamo {

// Operations of CodecLockCallback, numbered as FFmpeg's old lock manager numbered them.
enum TLockOp : int {
  lockCreate = 0,   // create the mutex into the slot; the reference then refers to the slot
  lockObtain = 1,   // wait for it without time limit (the owning thread may nest)
  lockRelease = 2,  // release it (only the owning thread can)
  lockDestroy = 3,  // close it; the reference and the slot become empty
};

// Runs `op` on the mutex that *mutex refers to. 0 on success, -1 on failure (logged).
// - create while *mutex already refers to a slot holding a mutex fails ("already exist");
//   when the slot holds another reference's mutex, that one is closed first (warning).
// - Closing a mutex that another thread holds waits for it to be released (bounded, so a
//   stuck owner cannot hang the caller); threads waiting on it go on to the slot's new
//   mutex, or fail when there is none.
// - release by a thread that does not own the mutex fails ("could not release").
// Thread-safe; the callback may be called from any thread.
int CodecLockCallback(void** mutex, int op);

// Id of the mutex in the slot as the log messages show it, 0 when the slot is empty.
int CodecMutexId();

// Holds the codec mutex for its lifetime through the loader's registration reference. The
// engine holds one around avcodec_open2 and avcodec_free_context. When the mutex cannot be
// obtained (none installed), the failure is logged and the guard holds nothing.
class TCodecLockGuard {
 public:
  TCodecLockGuard();
  ~TCodecLockGuard();
  TCodecLockGuard(const TCodecLockGuard&) = delete;
  TCodecLockGuard& operator=(const TCodecLockGuard&) = delete;

  bool Owned() const { return Owned_; }

 private:
  bool Owned_ = false;
};

}  // namespace tovamo
