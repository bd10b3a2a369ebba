// Runs one engine job on a real worker thread and waits for its end notice.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

#include "Engine/FFmpeg.h"

namespace tovamo::test {

struct TJobResult {
  bool Ended = false;  // the end notice arrived in time
  bool Finished = false;
  bool Error = false;
  std::string Message;
};

// Waits for an engine's one end notice.
class TEndWaiter {
 public:
  explicit TEndWaiter(TCustomFFmpeg& engine);
  // Starts the job on its own thread and waits for its end.
  TJobResult Run(std::chrono::seconds limit = std::chrono::seconds(60));
  bool Wait(std::chrono::seconds limit);
  TJobResult Result() const;

 private:
  TCustomFFmpeg& Engine_;
  mutable std::mutex Lock_;
  std::condition_variable Cond_;
  TJobResult Result_;
};

}  // namespace tovamo::test
