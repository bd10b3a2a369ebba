// Guard for one blocking library call (opening, reading or writing a file or stream) made
// for an engine: while it lives, the interrupt registry asks the engine's IOTimeoutCheck
// for the calling thread, so the call is abandoned when it exceeds the engine's IOTimeout
// or when StopRunning cancels it.
//
//   {
//     TGuardedIO guard(this);
//     ret = ff::avformat_open_input(&ctx, name, format, &options);
//     guard.Restart();  // a second blocking call gets a fresh time-out
//     ret = ff::avformat_find_stream_info(ctx, nullptr);
//     guard.End();      // before reporting the call's error, so the cancel line comes first
//   }
#pragma once

#include <cstdint>

namespace tovamo {

class TCustomFFmpeg;

class TGuardedIO {
 public:
  explicit TGuardedIO(TCustomFFmpeg* engine);
  ~TGuardedIO();
  TGuardedIO(const TGuardedIO&) = delete;
  TGuardedIO& operator=(const TGuardedIO&) = delete;

  // Restarts the time-out clock (a stop that was already requested still cancels).
  void Restart();
  // Ends the guard early; the destructor then does nothing.
  void End();

 private:
  void Arm();
  TCustomFFmpeg* Engine_;
  std::uint32_t ThreadId_;
  bool Active_ = true;
};

}  // namespace tovamo
